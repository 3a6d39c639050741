#pragma once
// All of a table's indexes checked against one pass over its rows, for the
// integrity check of large files: each row is decoded once, gives every
// index its key, and adds (row, key) to that index's fingerprint; each tree
// is then walked once, adding its entries the same way. Equal fingerprints
// mean the tree holds exactly one entry per row with that row's key, which
// is what check_index (index_check.h) proves entry by entry. Whenever they
// differ, or a row could not be keyed, the pass does not judge: the caller
// runs check_index, whose findings name each missing, stray or stale entry.
//
// A fingerprint is the sum of a seeded 128-bit hash of each (row, key)
// pair. The seed is new for every check, so no file can be made to collide;
// the chance that two different sets of entries sum alike is about 2^-64.
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/index/index_check.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"

namespace jet::index {

// Order-free sum of (row, key) hashes, and how many pairs went in.
class Fingerprint {
 public:
  explicit Fingerprint(std::uint64_t seed = 0) : seed_(seed) {}
  void add(RowPointer row, std::span<const std::uint8_t> key);
  // Adds what another fingerprint of the same seed summed: the pairs of
  // both, as if they had all gone into one.
  void absorb(const Fingerprint& other);
  bool operator==(const Fingerprint&) const = default;
  std::uint64_t count() const { return count_; }

 private:
  std::uint64_t seed_;
  std::uint64_t low_ = 0;
  std::uint64_t high_ = 0;
  std::uint64_t count_ = 0;
};

class TableIndexPass {
 public:
  // `table` must outlive the pass.
  TableIndexPass(const TableDef& table, Format format, std::uint64_t seed);

  // Positions (into the table's columns and a Row) of every column some
  // index keys on; add_row reads only these values.
  const std::vector<std::size_t>& key_positions() const { return key_positions_; }

  // One live row of the table.
  void add_row(RowPointer row, const Row& values);

  // Takes over the rows another pass over the same table object, with the
  // same seed, was given (another part of the file, walked on another thread):
  // the verdicts are those of one pass given all the rows.
  void absorb(const TableIndexPass& other);

  // The outcome for the table's i-th physical index (TableDef::index_data),
  // or nullopt when the pass cannot vouch for it and check_index must run.
  std::optional<IndexCheckResult> finish(std::size_t i, const SharedPageFetcher& fetch) const;

 private:
  struct PerIndex {
    std::optional<IndexKeyEncoder> encoder;  // empty: the key columns are unknown
    bool compare_keys = false;               // false: only row pointers are summed
    bool gave_up = false;                    // a row could not be keyed
    Fingerprint rows;
  };

  const TableDef& table_;
  Format format_;
  std::uint64_t seed_;
  std::vector<PerIndex> indexes_;
  std::vector<std::size_t> key_positions_;
  std::size_t rows_ = 0;
  Bytes key_;  // reused for every row's keys
};

}  // namespace jet::index
