#include "engine/format/text_codec.h"

#include <iconv.h>

#include <array>
#include <map>
#include <mutex>

namespace jet {
namespace {

// Windows-1252 0x80-0x9F (0 = undefined there, kept as the byte value).
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

using Table = std::array<char16_t, 256>;

Table cp1252_table() {
  Table t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<char16_t>(i);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] != 0) t[0x80 + i] = kCp1252High[i];
  }
  return t;
}

// Other single-byte code pages come from the C library's iconv, one byte at
// a time, so undefined bytes keep their own value instead of failing.
Table iconv_table(std::uint16_t code_page) {
  Table t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<char16_t>(i);
  std::string name = "CP" + std::to_string(code_page);
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp1252_table();
  for (int i = 0x80; i < 256; ++i) {
    char in = static_cast<char>(i);
    char out[8];
    char* inp = &in;
    char* outp = out;
    std::size_t inleft = 1;
    std::size_t outleft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<std::size_t>(-1) &&
        sizeof out - outleft == 2) {
      t[i] = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                   (static_cast<unsigned char>(out[1]) << 8));
    }
  }
  iconv_close(cd);
  return t;
}

const Table& table_for(std::uint16_t code_page) {
  static std::mutex mutex;
  static std::map<std::uint16_t, Table> tables;
  std::lock_guard lock(mutex);
  auto it = tables.find(code_page);
  if (it == tables.end()) {
    bool use_1252 = code_page == 0 || code_page == 1252 || code_page == 28591;
    it = tables.emplace(code_page, use_1252 ? cp1252_table() : iconv_table(code_page)).first;
  }
  return it->second;
}

}  // namespace

std::u16string decode_code_page(std::span<const std::uint8_t> bytes, std::uint16_t code_page) {
  const Table& t = table_for(code_page);
  std::u16string out;
  out.reserve(bytes.size());
  for (std::uint8_t b : bytes) out.push_back(t[b]);
  return out;
}

Bytes encode_code_page(std::u16string_view text, std::uint16_t code_page) {
  const Table& t = table_for(code_page);
  Bytes out;
  out.reserve(text.size());
  for (char16_t c : text) {
    std::uint8_t byte = '?';
    if (c < 0x80) {
      byte = static_cast<std::uint8_t>(c);
    } else {
      for (int i = 0x80; i < 256; ++i) {
        if (t[i] == c) {
          byte = static_cast<std::uint8_t>(i);
          break;
        }
      }
    }
    out.push_back(byte);
  }
  return out;
}

std::u16string decode_ucs2(std::span<const std::uint8_t> bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return out;
}

Bytes encode_ucs2(std::u16string_view text) {
  Bytes out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

std::u16string decode_jet4_text(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return decode_ucs2(bytes);
  // Compressed: one byte per character (its high byte zero) until a zero
  // byte switches to two-byte characters; the next zero byte at a character
  // boundary switches back.
  std::u16string out;
  out.reserve(bytes.size());
  bool compressed = true;
  std::size_t i = 2;
  while (i < bytes.size()) {
    if (bytes[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      out.push_back(bytes[i]);
      ++i;
    } else if (i + 1 < bytes.size()) {
      out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
      i += 2;
    } else {
      break;
    }
  }
  return out;
}

Bytes encode_jet4_text(std::u16string_view text, bool compress) {
  Bytes plain = encode_ucs2(text);
  if (!compress) return plain;
  Bytes out{0xFF, 0xFE};
  bool one_byte = true;
  for (char16_t c : text) {
    bool fits = c >= 0x01 && c <= 0xFF;
    if (!fits && (c & 0xFF) == 0) return plain;
    if (fits != one_byte) {
      out.push_back(0x00);
      one_byte = fits;
    }
    out.push_back(static_cast<std::uint8_t>(c));
    if (!fits) out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out.size() < plain.size() ? out : plain;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate cannot be written in UTF-8
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  auto append = [&out](char32_t c) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07u, minimum = 0x10000;
    } else {
      append(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    std::size_t j = 1;
    for (; j <= extra; ++j) {
      if (i + j >= text.size()) { ok = false; break; }
      const auto next = static_cast<unsigned char>(text[i + j]);
      if ((next & 0xC0) != 0x80) { ok = false; break; }
      c = (c << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if (!ok || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      append(0xFFFD);
      i += (j > 1 ? j : 1);
      continue;
    }
    append(c);
    i += extra + 1;
  }
  return out;
}

std::string format_guid(std::span<const std::uint8_t> b) {
  if (b.size() != 16) return {};
  static constexpr char kHex[] = "0123456789ABCDEF";
  // Byte order of the text form: Data1, Data2, Data3 reversed, then as stored.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[b[kOrder[i]] >> 4];
    out += kHex[b[kOrder[i]] & 0x0F];
  }
  return out + "}";
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace jet
