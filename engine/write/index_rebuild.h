#pragma once
// Index rebuilding as the writer needs it: a key for each row, and a dense
// B-tree laid out from entries sorted by key.
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/model/schema.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/write_format.h"

namespace jet::write {

struct IndexKeyEntry {
  Bytes key;
  RowPointer row;
};

// The sort key of `row` in index `index` of `table` (text in the General order).
Bytes index_key(const WriteFormat& format, const TableDef& table, const IndexData& index, const Row& row);

// True when the row gets no entry (an index that ignores nulls, all key columns null).
bool skips_row(const TableDef& table, const IndexData& index, const Row& row);

struct BuiltIndex {
  std::uint32_t root = 0;
  std::vector<FinishedPage> pages;
};

// Lays out a B-tree for entries already in key order (equal keys in row
// order); pages come from `allocate_page`. An empty index still gets its
// (empty) root leaf.
BuiltIndex build_index(const WriteFormat& format, std::uint32_t owner, const std::vector<IndexKeyEntry>& sorted,
                       const std::function<std::uint32_t()>& allocate_page);

}  // namespace jet::write
