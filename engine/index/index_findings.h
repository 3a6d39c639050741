#pragma once
// Shared by the two ways an index is checked (index_check.h one index at a
// time, table_index_pass.h all of a table's indexes in one pass): how
// findings are collected and worded, and the rules both apply.
#include <string>

#include "engine/index/index_check.h"

namespace jet::index::detail {

inline std::string where(RowPointer r) { return "row " + std::to_string(r.page) + ":" + std::to_string(r.row); }

// Keeps the first kMaxFindings findings, then counts the rest into one line.
class Findings {
 public:
  Findings(IndexCheckResult& result, std::string prefix) : result_(result), prefix_(std::move(prefix)) {}
  void add(FindingKind kind, RowPointer row, const std::string& what) {
    ++count_;
    if (result_.findings.size() < kMaxFindings) result_.findings.push_back({kind, row, prefix_ + what});
  }
  void close() {
    if (count_ > kMaxFindings) {
      result_.findings.push_back({FindingKind::Structure, RowPointer{},
                                  prefix_ + std::to_string(count_ - kMaxFindings) + " further problems not listed"});
    }
  }

 private:
  IndexCheckResult& result_;
  std::string prefix_;
  std::size_t count_ = 0;
};

inline std::string prefix_for(const TableDef& table, const IndexData& index) {
  return "table '" + table.name + "', index " + std::to_string(index.number) + ": ";
}

// A primary key is unique even when its physical index lacks the flag.
inline bool must_be_unique(const TableDef& table, const IndexData& index) {
  bool unique = index.is_unique();
  for (const Index& logical : table.indexes) {
    if (logical.index_data == index.number && logical.kind == 1) unique = true;
  }
  return unique;
}

// Several rows with every key column null are allowed in a unique index:
// such a key is one flag byte per column, each 00 or FF.
template <typename Key>
bool all_null_key(const Key& key, std::size_t columns) {
  if (key.size() != columns) return false;
  for (auto b : key) {
    if (b != 0x00 && b != 0xFF) return false;
  }
  return true;
}

}  // namespace jet::index::detail
