#pragma once
// Index rebuilding as the writer needs it: a key for each row, and a dense
// B-tree laid out from entries sorted by key.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/model/schema.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/write_format.h"

namespace jet::index {
class LearnedOrders;
}

namespace jet::write {

struct IndexKeyEntry {
  Bytes key;
  RowPointer row;
};

// Keys of one index for whole rows. Throws jet::Error 3251 when the index
// uses a column type or sort order whose keys we cannot form: compaction
// then stops rather than write an index that disagrees with its rows.
class IndexKeys {
 public:
  // `learned`: the orders other than General whose keys the source's own
  // entries taught (index/learned_orders.h); none refuses them all.
  IndexKeys(const WriteFormat& format, const TableDef& table, const IndexData& index,
            const index::LearnedOrders* learned = nullptr);
  ~IndexKeys();
  IndexKeys(IndexKeys&&) noexcept;
  IndexKeys& operator=(IndexKeys&&) noexcept;
  // The key of `row`, or nullopt when the index leaves the row out.
  std::optional<Bytes> key_for(const Row& row) const;
  // The same into `out`, reusing its buffer; false when the row is left out.
  bool key_into(const Row& row, Bytes& out) const;
  // The key as far as it can be formed (index::IndexKeyEncoder::formed_prefix_into).
  void formed_prefix_into(const Row& row, Bytes& out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

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
