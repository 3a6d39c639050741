#!/usr/bin/env python3
"""Every table of every sample database, as `quillmar-db export` writes it,
compared value by value with two readers written by others: mdbtools
(mdb-export with the same date and binary options) and the npm package
mdb-reader (through the shared dump.mjs).

    corpus_readers_test.py --tool PATH/quillmar-db --dir jet3|jet4|password

Exit 0 all agree, 1 a difference (each one listed), 77 skipped (no sample
databases, or neither reader installed), which CTest shows as "Skipped".
"""
import argparse
import concurrent.futures
import csv
import decimal
import io
import json
import os
import shutil
import struct
import subprocess
import sys
from datetime import datetime, timedelta, timezone

SKIP = 77
PASSWORD = "password"
DATE_FORMAT = "%Y-%m-%d %H:%M:%S"
# mdb-export binds each value in a 200000-byte buffer, so longer memos are cut.
MDBTOOLS_MEMO_LIMIT = 200000 - 4
JET_EPOCH = datetime(1899, 12, 30, tzinfo=timezone.utc)
# Bytes code page 1252 leaves undefined; we keep them as U+0081 and so on
# (as Windows does), mdbtools shows "?" and mdb-reader U+FFFD.
CP1252_UNDEFINED = {"\x81", "\x8d", "\x8f", "\x90", "\x9d"}


def shared_dir():
    env = os.environ.get("QUILLMAR_SHARED")
    if env and os.path.isdir(env):
        return env
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.normpath(os.path.join(here, "..", "..", "..", "shared"))


def run(cmd, stdin=None, timeout=300):
    p = subprocess.run(cmd, input=stdin, capture_output=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")


class Ours:
    """The database as quillmar-db shows it."""

    def __init__(self, tool, path, password):
        self.tool, self.path, self.password = tool, path, password

    def _cmd(self, *args):
        stdin = None
        cmd = [self.tool]
        if self.password is not None:
            cmd.append("--password-stdin")
            stdin = (self.password + "\n").encode()
        rc, out, err = run(cmd + list(args), stdin)
        if rc != 0:
            raise RuntimeError(f"quillmar-db {' '.join(args)} failed ({rc}): {err.strip()}")
        return out.decode("utf-8")

    def tables(self):
        """{name: stored row count} from `info` (last two words: rows, kind)."""
        lines = self._cmd("info", self.path).splitlines()
        start = next(i for i, line in enumerate(lines) if line.startswith("  Table "))
        tables = {}
        for line in lines[start + 1:]:
            name, rows, _kind = line.strip().rsplit(None, 2)
            tables[name] = int(rows)
        return tables

    def export(self, table):
        """(header, rows) with fields as written; quoted fields keep a marker."""
        text = self._cmd("export", self.path, table)
        return parse_csv(text)


def parse_csv(text):
    rows = list(csv.reader(io.StringIO(text, newline="")))
    if not rows:
        return [], []
    return rows[0], rows[1:]


# ------------------------------------------------------------------ mdbtools

def mdbtools_column_types(path, table):
    rc, out, _ = run(["mdb-schema", "-T", table, "--no-indexes", "--no-relations", "--", path, "access"])
    types = []
    for line in out.decode("utf-8", "replace").splitlines():
        if line.startswith("\t["):
            types.append(line.rsplit("]", 1)[1].strip().rstrip(","))
    return types


def same_as_mdbtools(ours, theirs, mdb_type):
    """True when our field agrees with mdb-export's for the same value.

    Besides the precision of floating-point numbers, mdbtools has limits
    that are allowed for here and nowhere else: it handles text and binary
    values as C strings (they end at the first zero byte), shows characters
    its code page leaves undefined as "?", cannot show dates before 1900
    and writes replication ids oddly."""
    if ours == theirs:
        return True
    if "\0" in ours and ours.split("\0")[0] == theirs:
        return True
    if mdb_type.startswith(("Binary", "OLE")) and ours.startswith(theirs) and ours[len(theirs):].startswith("00"):
        return True
    if mdb_type.startswith(("Text", "Memo")) and len(ours) == len(theirs):
        undefined = all(a == b or (b == "?" and a in CP1252_UNDEFINED) for a, b in zip(ours, theirs))
        if undefined:
            return True
    if mdb_type.startswith("DateTime") and ours < "1899-12-30":
        return True
    if mdb_type.startswith("Replication ID"):
        # mdb-export hex-encodes the id's text (-b hex) and leaves out its
        # fourth hyphen; ours is the registry form.
        try:
            text = bytes.fromhex(theirs).decode("ascii")
        except ValueError:
            return False
        return ours.replace("-", "").upper() == text.replace("-", "").upper()
    if mdb_type.startswith("Single"):
        # mdb-export prints 8 significant digits, we the shortest exact form.
        single = struct.unpack("<f", struct.pack("<f", float(ours)))[0]
        return "%.8g" % single == theirs
    if mdb_type.startswith("Double"):
        return "%.16g" % float(ours) == theirs
    if mdb_type.startswith("Memo") and len(theirs.encode()) >= MDBTOOLS_MEMO_LIMIT:
        return ours.startswith(theirs)
    return False


def compare_with_mdbtools(path, table, header, rows, problems):
    rc, out, err = run(["mdb-export", "-T", DATE_FORMAT, "-b", "hex", "--", path, table])
    if rc != 0:
        problems.append(f"{path} [{table}]: mdb-export failed: {err.strip()}")
        return
    their_header, their_rows = parse_csv(out.decode("utf-8", "surrogateescape"))
    if their_header != header:
        problems.append(f"{path} [{table}] mdbtools: header {their_header} != ours {header}")
        return
    types = mdbtools_column_types(path, table)
    if len(their_rows) != len(rows):
        problems.append(f"{path} [{table}] mdbtools: {len(their_rows)} rows, ours {len(rows)}")
        return
    def first_difference(mine, theirs):
        for col, (a, b, t) in enumerate(zip(mine, theirs, types)):
            # Unknown_: a type mdbtools does not decode.
            if not t.startswith("Unknown_") and not same_as_mdbtools(a, b, t):
                return col
        return None

    # Both usually read rows in the same order; where not, each of our rows
    # must match one of theirs that no other row matched.
    unmatched = []
    for n, (mine, theirs) in enumerate(zip(rows, their_rows)):
        if first_difference(mine, theirs) is not None:
            unmatched.append(n)
    spare = [their_rows[n] for n in unmatched]
    for n in unmatched:
        hit = next((i for i, theirs in enumerate(spare) if first_difference(rows[n], theirs) is None), None)
        if hit is None:
            col = first_difference(rows[n], their_rows[n])
            problems.append(f"{path} [{table}] row {n + 1} [{header[col]}] mdbtools: "
                            f"{their_rows[n][col][:300]!r}, ours {rows[n][col][:300]!r} (no other row matches)")
            return
        spare.pop(hit)


# ---------------------------------------------------------------- mdb-reader

def find_dump_mjs(shared):
    """dump.mjs beside an installed mdb-reader, or None."""
    tools = os.path.join(shared, "tools")
    cache = os.environ.get("JETDIFF_CACHE") or os.path.join(os.path.expanduser("~"), ".cache", "jetdiff")
    for folder in (os.path.join(tools, "node"), cache):
        if os.path.isdir(os.path.join(folder, "node_modules", "mdb-reader")):
            return os.path.join(folder, "dump.mjs")
    return None


def canonical_mdbreader(value, col_type):
    """mdb-reader's normalised value in a form both sides can reach exactly."""
    if value is None:
        return None
    if col_type in ("float",):
        return struct.unpack("<f", struct.pack("<f", float(value)))[0]
    if col_type == "double":
        return float(value)
    if col_type in ("currency", "numeric", "byte", "integer", "long", "bigint"):
        return decimal.Decimal(value)
    if col_type == "datetime":
        # mdb-reader counts time linearly from the epoch, to the millisecond.
        t = datetime.fromisoformat(value.replace("Z", "+00:00"))
        return round((t - JET_EPOCH).total_seconds())
    if col_type == "boolean":
        return value == "true"
    if col_type == "repid":
        return value.strip("{}").upper()
    return value  # text, memo (whole), binary and ole as upper-case hex


def canonical_ours(value, col_type, jet3):
    if col_type in ("float",):
        return None if value == "" else struct.unpack("<f", struct.pack("<f", float(value)))[0]
    if col_type == "double":
        return None if value == "" else float(value)
    if col_type in ("currency", "numeric", "byte", "integer", "long", "bigint"):
        return None if value == "" else decimal.Decimal(value)
    if col_type == "boolean":
        return value == "1"
    if col_type == "datetime":
        if value == "":
            return None
        # Jet keeps the day in the whole part and the time of day in the
        # fraction, also before the epoch: -1.25 is 1899-12-29 06:00.
        t = datetime.strptime(value, DATE_FORMAT).replace(tzinfo=timezone.utc)
        day = (t.date() - JET_EPOCH.date()).days
        seconds = t.hour * 3600 + t.minute * 60 + t.second
        return day * 86400 + (seconds if day >= 0 else -seconds)
    if col_type == "repid":
        return None if value == "" else value.strip("{}").upper()
    if col_type in ("binary", "ole"):
        return None if value == "" else value.upper()
    # Text and memo: "" may be null or empty text, see compare_with_mdbreader.
    # Only Jet 3 text comes from a code page; Jet 4 text is Unicode as stored.
    if not jet3:
        return value
    return "".join("\ufffd" if c in CP1252_UNDEFINED else c for c in value)


def compare_with_mdbreader(path, table_json, header, rows, problems):
    name = table_json["table"]
    if "error" in table_json:
        if "Unsupported column type" in table_json["error"]:
            # Column type 0x11 of Access 2000 system tables; mdb-reader stops there.
            print(f"note: mdb-reader cannot read {os.path.basename(path)} [{name}]: {table_json['error']}")
            return
        problems.append(f"{path} [{name}] mdb-reader cannot read the table: {table_json['error']}")
        return
    cols = table_json["columns"]
    if [c["name"] for c in cols] != header:
        problems.append(f"{path} [{name}] mdb-reader: columns {[c['name'] for c in cols]} != ours {header}")
        return
    types = [c["type"] for c in cols]
    known = [i for i, t in enumerate(types) if t not in ("complex", "unknown")]
    # CSV cannot tell null text from empty text unless quoted; compare text
    # nulls as "" on both sides.
    def theirs_row(r):
        return [("" if r[i] is None and types[i] in ("text", "memo") else canonical_mdbreader(r[i], types[i]))
                for i in known]

    with open(path, "rb") as f:
        jet3 = f.read(0x15)[0x14:] == b"\x00"  # version byte of the header

    def ours_row(r):
        return [canonical_ours(r[i], types[i], jet3) for i in known]

    key = lambda r: json.dumps(r, default=str)
    theirs = sorted((theirs_row(r) for r in table_json["rows"]), key=key)
    mine = sorted((ours_row(r) for r in rows), key=key)
    if len(theirs) != len(mine):
        problems.append(f"{path} [{name}] mdb-reader: {len(theirs)} rows, ours {len(mine)}")
        return
    for a, b in zip(mine, theirs):
        if a != b:
            diff = [(header[known[i]], x, y) for i, (x, y) in enumerate(zip(a, b)) if x != y]
            problems.append(f"{path} [{name}] mdb-reader differs: (column, ours, theirs) {str(diff)[:300]}")
            return


# ---------------------------------------------------------------------- main

def check_file(tool, path, password, use_mdbtools, dump_mjs):
    problems = []
    ours = Ours(tool, path, password)
    try:
        tables = ours.tables()
    except RuntimeError as e:
        return [f"{path}: {e}"], 0
    exports = {}
    for name in tables:
        try:
            exports[name] = ours.export(name)
        except RuntimeError as e:
            problems.append(f"{path} [{name}]: {e}")
    if use_mdbtools:
        rc, out, _ = run(["mdb-tables", "-1", "-S", "--", path])
        listed = [n for n in out.decode("utf-8", "surrogateescape").split("\n") if n.strip()]
        if sorted(listed) != sorted(tables):
            problems.append(f"{path}: tables {sorted(tables)} but mdbtools lists {sorted(listed)}")
        for name in listed:
            if name in exports:
                compare_with_mdbtools(path, name, *exports[name], problems)
    if dump_mjs:
        cmd = ["node", dump_mjs, path] + (["--password", password] if password else [])
        rc, out, err = run(cmd)
        if rc != 0:
            print(f"note: mdb-reader cannot read {os.path.basename(path)}: {err.strip()[:200]}")
        else:
            # Not splitlines(): text may hold U+2028 and other line breaks.
            for line in out.decode("utf-8", "surrogatepass").split("\n")[1:]:
                if not line:
                    continue
                table_json = json.loads(line)
                if table_json["table"] in exports:
                    compare_with_mdbreader(path, table_json, *exports[table_json["table"]], problems)
                else:
                    problems.append(f"{path}: mdb-reader lists table {table_json['table']}, we do not")
    return problems, len(exports)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--dir", required=True)
    args = ap.parse_args()
    corpus = os.path.join(shared_dir(), "corpus", args.dir)
    if not os.path.isdir(corpus):
        print(f"SKIPPED: no sample databases at {corpus}")
        return SKIP
    use_mdbtools = shutil.which("mdb-export") is not None
    dump_mjs = find_dump_mjs(shared_dir()) if shutil.which("node") else None
    if not use_mdbtools:
        print("SKIPPED part: mdbtools is not installed (apt-get install mdbtools)")
    if not dump_mjs:
        print("SKIPPED part: node or the npm package mdb-reader is not installed "
              "(run ../shared/tools/jetdump once to install it)")
    if not use_mdbtools and not dump_mjs:
        return SKIP
    password = PASSWORD if args.dir == "password" else None
    files = sorted(os.path.join(corpus, f) for f in os.listdir(corpus) if f.endswith(".mdb"))
    problems, tables = [], 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for found, count in pool.map(lambda f: check_file(args.tool, f, password, use_mdbtools, dump_mjs), files):
            problems += found
            tables += count
    for p in problems:
        print("DIFFERENCE", p)
    readers = " and ".join(r for r, on in (("mdbtools", use_mdbtools), ("mdb-reader", dump_mjs)) if on)
    print(f"{len(files)} files, {tables} tables compared with {readers}: {len(problems)} differences")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
