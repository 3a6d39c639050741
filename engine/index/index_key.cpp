#include "engine/index/index_key.h"

#include <bit>
#include <cstring>

#include "engine/error.h"
#include "engine/index/learned_orders.h"

namespace jet::index {
namespace {

constexpr std::uint8_t kAscendingValue = 0x7F;
constexpr std::uint8_t kAscendingNull = 0x00;
constexpr std::uint8_t kDescendingValue = 0x80;
constexpr std::uint8_t kDescendingNull = 0xFF;
constexpr std::uint8_t kTrueAscending = 0x00;  // Yes (-1) sorts before No (0)
constexpr std::uint8_t kFalseAscending = 0xFF;

// The General sort order is 1033; Jet 4 keeps its version beside it.
constexpr std::uint16_t kGeneralSortOrder = 1033;
constexpr std::size_t kJet4SortVersionOffset = 14;

void invert(Bytes& out, std::size_t from) {
  for (std::size_t i = from; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
}

void append_big_endian(std::uint64_t v, int bytes, Bytes& out) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Two's complement with the sign bit flipped sorts as unsigned bytes.
void append_integer(std::int64_t v, int bytes, bool ascending, Bytes& out) {
  const std::size_t start = out.size();
  append_big_endian(static_cast<std::uint64_t>(v), bytes, out);
  out[start] ^= 0x80;
  if (!ascending) invert(out, start);
}

// IEEE bits: positives get the sign bit set, negatives are inverted whole,
// so the bytes sort numerically.
void append_floating(std::uint64_t bits, int bytes, bool ascending, Bytes& out) {
  const std::size_t start = out.size();
  append_big_endian(bits, bytes, out);
  const bool negative = (out[start] & 0x80) != 0;
  if (!negative) out[start] ^= 0x80;
  if (negative == ascending) invert(out, start);
}

// Sign byte and 128-bit magnitude; negatives inverted; the sign byte then
// replaced by FF (value >= 0) or 00 (value < 0), as Jet 3 and Jet 4 do.
void append_numeric(const Decimal& d, bool ascending, Bytes& out) {
  const std::size_t start = out.size();
  out.push_back(d.negative ? 0x80 : 0x00);
  append_big_endian(d.high, 8, out);
  append_big_endian(d.low, 8, out);
  if (d.negative == ascending) invert(out, start);
  out[start] = d.negative ? 0x00 : 0xFF;
}

// Binary data in 8-byte groups, each followed by a count byte: 9 means more
// groups follow, otherwise the number of real bytes in this last group.
// Descending inverts everything except the 9s.
void append_binary(const std::uint8_t* data, std::size_t len, bool ascending, Bytes& out) {
  std::size_t pos = 0;
  while (len - pos > 8) {
    const std::size_t start = out.size();
    out.insert(out.end(), data + pos, data + pos + 8);
    if (!ascending) invert(out, start);
    out.push_back(9);
    pos += 8;
  }
  if (len - pos > 0) {
    const std::size_t start = out.size();
    const std::size_t n = len - pos;
    out.insert(out.end(), data + pos, data + len);
    out.insert(out.end(), 8 - n, 0);
    out.push_back(static_cast<std::uint8_t>(n));
    if (!ascending) invert(out, start);
  }
}

[[noreturn]] void cannot_key(const std::string& what) {
  throw Error(errc::kNotBuiltYet, "Cannot build an index key: " + what + ".");
}

// The types whose key form the sample files show; a type byte the model
// does not name has none.
bool has_key_form(ColumnType t) {
  switch (t) {
    case ColumnType::Ole: return false;
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Binary:
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::Guid:
    case ColumnType::Numeric:
    case ColumnType::Complex11:
    case ColumnType::Complex:
    case ColumnType::BigInt:
    case ColumnType::DateTimeExtended: return true;
  }
  return false;
}

}  // namespace

void append_column_key(const Value& v, const KeyColumn& c, Bytes& out, ExpansionCount expansions) {
  if (c.type == ColumnType::Boolean) {
    // Yes/No columns are never null in an index.
    out.push_back(c.ascending ? kAscendingValue : kDescendingValue);
    const bool yes = !v.is_null && v.integer != 0;
    const std::uint8_t b = yes ? kTrueAscending : kFalseAscending;
    out.push_back(c.ascending ? b : static_cast<std::uint8_t>(~b));
    return;
  }
  if (v.is_null) {
    out.push_back(c.ascending ? kAscendingNull : kDescendingNull);
    return;
  }
  if (c.type != ColumnType::Ole && !has_key_form(c.type)) {
    cannot_key("column type " + std::to_string(static_cast<unsigned>(c.type)) + " has no known key form");
  }
  out.push_back(c.ascending ? kAscendingValue : kDescendingValue);
  switch (c.type) {
    case ColumnType::Byte: {
      out.push_back(static_cast<std::uint8_t>(v.integer));
      if (!c.ascending) invert(out, out.size() - 1);
      break;
    }
    case ColumnType::Integer: append_integer(v.integer, 2, c.ascending, out); break;
    case ColumnType::Long:
    case ColumnType::Complex: append_integer(v.integer, 4, c.ascending, out); break;
    case ColumnType::Currency:
    case ColumnType::BigInt: append_integer(v.integer, 8, c.ascending, out); break;
    case ColumnType::Single:
      append_floating(std::bit_cast<std::uint32_t>(static_cast<float>(v.real)), 4, c.ascending, out);
      break;
    case ColumnType::Double:
    case ColumnType::DateTime: append_floating(std::bit_cast<std::uint64_t>(v.real), 8, c.ascending, out); break;
    case ColumnType::Numeric: append_numeric(v.decimal, c.ascending, out); break;
    case ColumnType::Guid: {
      if (v.bytes.size() != 16) cannot_key("a Replication ID is not 16 bytes");
      // Stored with its first three groups little-endian; keyed in the
      // order it is written out: {00112233-4455-6677-...}.
      const std::uint8_t* g = v.bytes.data();
      const std::uint8_t display[16] = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6],
                                        g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]};
      append_binary(display, 16, c.ascending, out);
      break;
    }
    case ColumnType::Binary: append_binary(v.bytes.data(), v.bytes.size(), c.ascending, out); break;
    // Keyed as the binary of its stored text, which sorts in time order
    // (fixed-width digits).
    case ColumnType::DateTimeExtended: append_binary(v.bytes.data(), v.bytes.size(), c.ascending, out); break;
    case ColumnType::Text:
    case ColumnType::Memo:
      if (const SortKeyForm* form = c.learned != nullptr ? c.learned->sort_key_form(c.learned_order) : nullptr) {
        // The order's own form; its descending keys no file has shown.
        if (!c.ascending || !form->key_into(v.text, out)) {
          cannot_key("text in sort order " + std::to_string(c.learned_order) +
                     " holds a character whose key this file's own index entries do not show");
        }
        break;
      }
      if (c.learned != nullptr && !c.learned->keys_like_general(c.learned_order, v.text)) {
        cannot_key("text in sort order " + std::to_string(c.learned_order) +
                   " holds a character whose key this file's own index entries do not show");
      }
      append_text_key(v.text, c.text_order, c.ascending, out, expansions,
                      c.learned != nullptr ? c.learned->codes(c.learned_order) : nullptr);
      break;
    case ColumnType::Complex11: {
      if (v.bytes.size() != 4) cannot_key("an attachment-like column is not 4 bytes");
      std::uint32_t raw = 0;
      std::memcpy(&raw, v.bytes.data(), 4);
      append_integer(static_cast<std::int32_t>(raw), 4, c.ascending, out);
      break;
    }
    case ColumnType::Boolean: break;  // handled above
    case ColumnType::Ole: cannot_key("OLE Object columns have no key form");
  }
}

IndexKeyEncoder::IndexKeyEncoder(const TableDef& table, const IndexData& index, Format format,
                                 std::optional<TextOrder> text_order, const LearnedOrders* learned)
    : ignore_nulls_(index.ignores_nulls()) {
  for (const IndexColumn& ic : index.columns) {
    std::size_t pos = table.columns.size();
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      if (table.columns[i].number == ic.column_number) pos = i;
    }
    if (pos == table.columns.size()) {
      throw Error(errc::kCannotOpenDatabase, "Index " + std::to_string(index.number) + " of table '" + table.name +
                                                 "' names column " + std::to_string(ic.column_number) +
                                                 ", which the table does not have.");
    }
    const Column& col = table.columns[pos];
    KeyColumn kc{pos, col.type, ic.ascending, TextOrder::GeneralLegacy};
    if ((col.type == ColumnType::Text || col.type == ColumnType::Memo) && text_order) {
      kc.text_order = *text_order;
    } else if (col.type == ColumnType::Text || col.type == ColumnType::Memo) {
      if (format == Format::Jet3) {
        kc.text_order = TextOrder::General97;
      } else {
        const std::uint8_t version = col.raw.size() > kJet4SortVersionOffset ? col.raw[kJet4SortVersionOffset] : 0;
        kc.text_order = version == 0 ? TextOrder::GeneralLegacy : TextOrder::General2010;
      }
      // 0 appears in files some other tools wrote; Access reads it as the
      // format's default, the General order.
      const bool other_order = col.collation != kGeneralSortOrder && col.collation != 0;
      if (other_order && learned != nullptr && learned->knows(col.collation)) {
        kc.learned = learned;
        kc.learned_order = col.collation;
      } else if (other_order && unsupported_.empty()) {
        unsupported_ = "column '" + col.name + "' uses sort order " + std::to_string(col.collation) +
                       ", not the General order";
      }
    }
    if (col.type == ColumnType::Ole && unsupported_.empty()) {
      unsupported_ = "column '" + col.name + "' is an OLE Object";
    } else if (col.is_calculated() && unsupported_.empty()) {
      // Access does not index calculated columns; no sample shows a key of one.
      unsupported_ = "column '" + col.name + "' is calculated";
    } else if (!has_key_form(col.type) && unsupported_.empty()) {
      unsupported_ = "column '" + col.name + "' is of type " + std::to_string(static_cast<unsigned>(col.type)) +
                     ", whose key form is not known";
    }
    columns_.push_back(kc);
  }
}

std::optional<Bytes> IndexKeyEncoder::key_for(const Row& row) const {
  Bytes key;
  if (!key_into(row, key)) return std::nullopt;
  return key;
}

bool IndexKeyEncoder::key_into(const Row& row, Bytes& key) const {
  return key_into(row, key, ExpansionCount::kPerLetter);
}

bool IndexKeyEncoder::is_own_key(const Row& row, const Bytes& stored) const {
  Bytes key;
  if (!key_into(row, key)) return false;
  if (key == stored) return true;
  bool has_text = false;
  for (const KeyColumn& c : columns_) has_text = has_text || c.type == ColumnType::Text || c.type == ColumnType::Memo;
  return has_text && key_into(row, key, ExpansionCount::kPerCharacter) && key == stored;
}

void IndexKeyEncoder::formed_prefix_into(const Row& row, Bytes& out) const {
  out.clear();
  if (!unsupported_.empty()) return;
  for (const KeyColumn& c : columns_) {
    if (c.position >= row.size()) return;
    const std::size_t before = out.size();
    try {
      append_column_key(row[c.position], c, out);
      continue;
    } catch (const Error& e) {
      if (e.number() != errc::kNotBuiltYet) throw;
    }
    out.resize(before);
    const Value& v = row[c.position];
    if (!has_key_form(c.type)) return;
    out.push_back(c.ascending ? kAscendingValue : kDescendingValue);
    const bool text = c.type == ColumnType::Text || c.type == ColumnType::Memo;
    if (!text || c.learned == nullptr) return;
    const std::size_t run = c.learned->general_run(c.learned_order, v.text);
    Bytes codes;
    std::vector<std::size_t> ends;
    try {
      append_text_inline(v.text.substr(0, run), c.text_order, codes, ends, c.learned->codes(c.learned_order));
    } catch (const Error& e) {
      if (e.number() != errc::kNotBuiltYet) throw;
      codes.resize(ends.empty() ? 0 : ends.back());
    }
    if (!c.ascending) invert(codes, 0);
    out.insert(out.end(), codes.begin(), codes.end());
    return;
  }
}

bool IndexKeyEncoder::key_into(const Row& row, Bytes& key, ExpansionCount expansions) const {
  key.clear();
  if (!unsupported_.empty()) cannot_key(unsupported_);
  bool all_null = true;
  for (const KeyColumn& c : columns_) {
    if (c.position >= row.size()) cannot_key("the row has fewer values than the table has columns");
    if (c.type == ColumnType::Boolean || !row[c.position].is_null) all_null = false;
  }
  if (ignore_nulls_ && all_null) return false;
  for (const KeyColumn& c : columns_) append_column_key(row[c.position], c, key, expansions);
  return true;
}

}  // namespace jet::index
