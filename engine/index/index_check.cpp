#include "engine/index/index_check.h"

#include <map>

#include "engine/error.h"
#include "engine/index/index_findings.h"
#include "engine/index/index_key.h"

namespace jet::index {

using detail::Findings;
using detail::where;

IndexCheckResult check_index(const PageFetcher& fetch, const TableDef& table, const IndexData& index,
                             Format format, const RowScanner& scan_rows) {
  IndexCheckResult result;
  Findings findings(result, detail::prefix_for(table, index));

  IndexTree tree;
  try {
    tree = read_index_tree(fetch, index.first_page, format, table.definition_page);
  } catch (const Error& e) {
    findings.add(FindingKind::Damaged, RowPointer{}, e.description());
    findings.close();
    return result;
  }
  result.entries = tree.entries.size();
  for (const auto& note : tree.notes) findings.add(FindingKind::Structure, RowPointer{}, note);

  IndexKeyEncoder encoder(table, index, format);
  const bool compare_keys = encoder.unsupported_reason().empty();
  if (!compare_keys) {
    findings.add(FindingKind::KeysNotChecked, RowPointer{}, "keys not compared: " + encoder.unsupported_reason());
  }

  // Entries by row; a row listed twice is a stray second entry.
  std::map<RowPointer, const IndexEntry*> by_row;
  for (const auto& e : tree.entries) {
    if (!by_row.emplace(e.row, &e).second) findings.add(FindingKind::StrayEntry, e.row, "second entry for " + where(e.row));
  }

  bool key_error_reported = false;
  scan_rows([&](RowPointer row, const Row& values) {
    ++result.rows;
    const auto it = by_row.find(row);
    const IndexEntry* entry = it == by_row.end() ? nullptr : it->second;
    if (it != by_row.end()) by_row.erase(it);

    bool all_null = true;
    for (const KeyColumn& c : encoder.columns()) {
      if (c.position < values.size() && (c.type == ColumnType::Boolean || !values[c.position].is_null)) all_null = false;
    }
    const bool expected = !(index.ignores_nulls() && all_null);
    if (!expected) {
      if (entry != nullptr) findings.add(FindingKind::StrayEntry, row, "entry for " + where(row) + ", whose key columns are all null");
      return;
    }
    if (entry == nullptr) {
      findings.add(FindingKind::MissingEntry, row, "no entry for " + where(row));
      return;
    }
    if (!compare_keys) return;
    try {
      const auto key = encoder.key_for(values);
      // A key Access writes the older way (expansions counted once) is its
      // own, not one that differs.
      if (key && *key != entry->key && !encoder.is_own_key(values, entry->key)) {
        findings.add(FindingKind::WrongKey, row, "entry for " + where(row) + ": key differs from the computed one");
      }
    } catch (const Error& e) {
      if (!key_error_reported) findings.add(FindingKind::KeysNotChecked, row, "key not compared: " + e.description());
      key_error_reported = true;
    }
  });
  for (const auto& [row, entry] : by_row) {
    findings.add(FindingKind::StrayEntry, row, "entry points at " + where(row) + ", which holds no live row");
  }

  if (detail::must_be_unique(table, index) && compare_keys) {
    for (std::size_t i = 1; i < tree.entries.size(); ++i) {
      const Bytes& a = tree.entries[i - 1].key;
      const Bytes& b = tree.entries[i].key;
      if (a == b && !detail::all_null_key(a, encoder.columns().size())) {
        findings.add(FindingKind::DuplicateKey, tree.entries[i].row,
                     where(tree.entries[i - 1].row) + " and " + where(tree.entries[i].row) + " share a key");
      }
    }
  }
  findings.close();
  return result;
}

}  // namespace jet::index
