#!/usr/bin/env python3
"""Turns per-character collation code lists into engine/index/collation_tables.cpp.

Input lists are in codes/ beside this script, taken from the index code lists
published with the Jackcess library (one line per character, starting at
U+0000). The extended list covers U+0100-U+FFFF (without the surrogates) in a
range form, see the head of codes/ext_legacy.txt.
Each code uses one letter for how the character sorts, then hex bytes:
  S<inline>                      plain: the bytes go into the key
  I<inline>,<extra>              accented: base bytes inline, accent byte after the text
  U<bytes>                       control: left out inline, noted after the text
  P<modifier>                    combining mark: adds to the previous accent byte
  Z<inline>,<extra>,<1|>         accented with a case/width flag (1: flag 2, empty: flag 3)
  X                              ignored
An optional mapping list gives "<codepoint>,<latin1 code>" pairs for
characters outside Latin-1 that sort as a Latin-1 character.

Usage: gen_collation_tables.py GENERAL_LEGACY GENERAL_2010 GENERAL_97 MAP_97 [EXT_LEGACY] > collation_tables.cpp
  cd engine/index/tools/codes && python3 ../gen_collation_tables.py general_legacy.txt \
      general_2010.txt general_97.txt map_97.txt ext_legacy.txt > ../../collation_tables.cpp
The extended characters become two tables: runs (ignored ranges, and ranges of
plain two-byte codes that count up) and one explicit entry per other character.
"""
import sys

KIND = {"S": "kPlain", "I": "kAccented", "U": "kControl", "P": "kCombining", "Z": "kAccentedFlagged", "X": "kIgnored"}


def hexbytes(s):
    if not s:
        return []
    if len(s) % 2:
        s = "0" + s
    return [int(s[i:i + 2], 16) for i in range(0, len(s), 2)]


def parse(line):
    kind, rest = line[0], line[1:]
    parts = rest.split(",") if rest else [""]
    inline, extra, flag = [], [], 0
    if kind in "S":
        inline = hexbytes(parts[0])
    elif kind == "I":
        inline, extra = hexbytes(parts[0]), hexbytes(parts[1])
    elif kind == "U":
        extra = hexbytes(parts[0])
    elif kind == "P":
        flag = hexbytes(parts[0])[0]
    elif kind == "Z":
        inline, extra, flag = hexbytes(parts[0]), hexbytes(parts[1]), (2 if parts[2] == "1" else 3)
    assert len(inline) <= 6 and len(extra) <= 3, line
    return kind, inline, extra, flag


def entry(code):
    kind, inline, extra, flag = code
    pad = lambda b, n: ", ".join(f"0x{x:02X}" for x in b + [0] * (n - len(b)))
    return (f"{{CharKind::{KIND[kind]}, {len(inline)}, {{{pad(inline, 6)}}}, "
            f"{len(extra)}, {{{pad(extra, 3)}}}, 0x{flag:02X}}}")


# Where the keys Access wrote disagree with the published lists, the files win.
# Access 97 keys a NUL inside a text like the other control characters (0x10):
# seen in the MSysModules2 name index of Access 97 files (the name "Lock\0").
CORRECTIONS = {
    "kGeneral97Latin1": {0x00: "S10"},
}


def table(name, path):
    lines = [l.strip() for l in open(path) if l.strip()]
    assert len(lines) == 256, (path, len(lines))
    for cp, code in CORRECTIONS.get(name, {}).items():
        lines[cp] = code
    out = [f"const CharCode {name}[256] = {{"]
    for i, l in enumerate(lines):
        out.append(f"    {entry(parse(l))},  // U+{i:04X}")
    out.append("};")
    return "\n".join(out)


def next_code(c):
    """The code after c: low bytes 00 and 01 are never used."""
    c += 1
    while (c & 0xFF) < 2:
        c += 1
    return c


def read_extended(path):
    """Reads the range form into explicit (cp, code) rows and runs
    (first, last, first_code or 0 for ignored), checking that every character
    U+0100-U+FFFF outside the surrogates is described exactly once."""
    explicit, runs, seen = [], [], set()
    for line in open(path):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        where, code = line.split()
        if "-" in where:
            first, last = (int(x, 16) for x in where.split("-"))
            if code == "X":
                runs.append((first, last, 0))
            else:
                assert code[0] == "S" and code[-1] == "+" and len(code) == 6, line
                runs.append((first, last, int(code[1:5], 16)))
            cps = range(first, last + 1)
        else:
            cp = int(where, 16)
            explicit.append((cp, parse(code)))
            cps = [cp]
        for cp in cps:
            assert cp not in seen and not 0xD800 <= cp <= 0xDFFF, hex(cp)
            seen.add(cp)
    expected = set(range(0x100, 0x10000)) - set(range(0xD800, 0xE000))
    assert seen == expected, sorted(expected - seen)[:10]
    for first, last, code in runs:
        c = code
        for _ in range(first, last):
            if code:
                c = next_code(c)
        assert c <= 0xFFFF, hex(first)
    return sorted(explicit), sorted(runs)


def extended_tables(path):
    explicit, runs = read_extended(path)
    out = [f"const ExtendedCode kGeneralLegacyExtended[{len(explicit)}] = {{"]
    for cp, code in explicit:
        out.append(f"    {{0x{cp:04X}, {entry(code)}}},")
    out.append("};")
    out.append(f"const std::size_t kGeneralLegacyExtendedCount = {len(explicit)};\n")
    out.append(f"const ExtendedRun kGeneralLegacyRuns[{len(runs)}] = {{")
    for first, last, code in runs:
        out.append(f"    {{0x{first:04X}, 0x{last:04X}, 0x{code:04X}}},")
    out.append("};")
    out.append(f"const std::size_t kGeneralLegacyRunCount = {len(runs)};\n")
    return "\n".join(out)


def main():
    legacy, gen2010, gen97, map97 = sys.argv[1:5]
    ext = sys.argv[5] if len(sys.argv) > 5 else None
    print("// Generated by engine/index/tools/gen_collation_tables.py; do not edit by hand.")
    print("// Per-character sort codes of the General sort order (1033) in its three")
    print("// generations: Access 97, Access 2000-2007 (legacy) and Access 2010.")
    print('#include "engine/index/collation_tables.h"\n')
    print("namespace jet::index::collation {\n")
    print(table("kGeneralLegacyLatin1", legacy) + "\n")
    print(table("kGeneral2010Latin1", gen2010) + "\n")
    print(table("kGeneral97Latin1", gen97) + "\n")
    pairs = [tuple(int(x) for x in l.split(",")) for l in open(map97) if l.strip()]
    print(f"const Mapping kGeneral97Extended[{len(pairs)}] = {{")
    for cp, to in pairs:
        print(f"    {{0x{cp:04X}, 0x{to:02X}}},")
    print("};\n")
    if ext:
        print(extended_tables(ext))
    print("}  // namespace jet::index::collation")


if __name__ == "__main__":
    main()
