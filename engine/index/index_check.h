#pragma once
// Integrity check of one index against its table: the B-tree must read
// cleanly and hold exactly one entry per live row (rows with every key
// column null are left out of indexes that ignore nulls), each pointing at
// its row and carrying the key that row's values give. The integrity check
// of the whole database calls this once per index.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/index/index_page_layout.h"
#include "engine/index/index_tree_reader.h"
#include "engine/model/schema.h"

namespace jet::index {

enum class FindingKind : std::uint8_t {
  Damaged,         // the tree cannot be read (bad page, cycle, order); nothing else checked
  Structure,       // sibling links, parent entries or page owners disagree; entries still usable
  MissingEntry,    // a live row has no entry
  StrayEntry,      // an entry points at no live row, or a second entry at the same row
  WrongKey,        // an entry's key differs from the one our encoder gives its row (a note)
  DuplicateKey,    // a unique index (or primary key) holds the same non-null key twice
  KeysNotChecked,  // the key form of a column is unknown; only row pointers were compared
};

struct IndexFinding {
  FindingKind kind;
  RowPointer row;       // the row concerned, where there is one
  std::string message;  // one line, names the table and the index
};

struct IndexCheckResult {
  std::vector<IndexFinding> findings;  // at most kMaxFindings, then one summary line
  std::size_t entries = 0;             // entries read from the tree
  std::size_t rows = 0;                // live rows seen
  bool ok() const { return findings.empty(); }
};

inline constexpr std::size_t kMaxFindings = 50;

// Calls `visit` for every live row of the table (Database::scan_rows fits).
using RowScanner = std::function<void(const std::function<void(RowPointer, const Row&)>& visit)>;

IndexCheckResult check_index(const PageFetcher& fetch, const TableDef& table, const IndexData& index,
                             Format format, const RowScanner& scan_rows);

}  // namespace jet::index
