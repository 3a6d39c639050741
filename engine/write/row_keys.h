#pragma once
// Forming the copy's index keys from rows: which index encoder a table's
// index gets (none when it cannot key that index), which columns must be
// decoded for them, and the key of one row. When the encoder cannot key
// some value, the index's stored entries are carried over instead
// (stored_index_entries.h).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/format/row_layout.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"
#include "engine/write/index_rebuild.h"
#include "engine/write/write_format.h"

namespace jet::write {

class RewriteSource;

// The index's key encoder, or none (with the reason) when it cannot form
// keys for this index. `learned`: the orders other than General the
// source's own entries taught (RewriteOptions::learned_orders).
std::optional<IndexKeys> keys_for(const WriteFormat& format, const TableDef& t, const IndexData& data,
                                  std::string& reason, const index::LearnedOrders* learned = nullptr);

// Forms a key into `key` (`listed` false when the index leaves the row
// out); false (with the reason) when the encoder cannot key some value of
// this row, so the index must be carried over instead.
bool key_or_give_up(const IndexKeys& keys, const Row& values, Bytes& key, bool& listed, std::string& reason);

// The physical index of the table's primary key, or null.
const IndexData* primary_key_of(const TableDef& t);

// Which columns must be decoded: those the indexes key and the AutoNumber.
// The rest (long values above all) are copied without being decoded.
std::vector<bool> columns_keyed(const TableDef& t, const std::vector<const IndexData*>& indexes,
                                const Column* autonumber);

// Decodes the wanted columns only; the others are left as they were and
// must not be read. Long values come from `source`; without one, none
// may be wanted. `code_page`: the source database's.
void decode_fields(const JetFormat& format, std::uint16_t code_page, RewriteSource* source, const TableDef& t,
                   const std::vector<RawField>& fields, const std::vector<bool>& wanted, Row& values);

// True when every column the index keys is null in `values`.
bool all_null(const TableDef& t, const IndexData& data, const Row& values);

// True when the index keys a Text or Memo column.
bool has_text_key(const TableDef& t, const IndexData& data);

// The names of the logical indexes a physical index serves, for messages.
std::string index_name(const TableDef& t, const IndexData& data);

inline std::size_t column_position(const TableDef& t, const Column& c) {
  return static_cast<std::size_t>(&c - t.columns.data());
}

}  // namespace jet::write
