#pragma once
// What compaction needs to lay out a table's indexes again after its rows
// have moved: either key every row afresh, or carry the stored keys over and
// only point them at the rows' new places.
#include <functional>
#include <optional>
#include <vector>

#include "engine/index/index_builder.h"
#include "engine/index/index_key.h"

namespace jet::index {

// Keys rows one by one as compaction writes them, then builds the tree.
class IndexRebuilder {
 public:
  IndexRebuilder(const TableDef& table, const IndexData& index, Format format,
                 std::optional<TextOrder> text_order = std::nullopt);

  // False when a column's key form is unknown (see unsupported_reason());
  // carry_over_entries is the way then.
  bool can_key() const { return encoder_.unsupported_reason().empty(); }
  const std::string& unsupported_reason() const { return encoder_.unsupported_reason(); }

  // Throws jet::Error 3251 when a value cannot be keyed.
  void add_row(RowPointer where, const Row& row);

  // Sorts the entries and lays out the tree; `owner` is the table's new
  // definition page.
  BuiltIndex build(PageNumber owner, const PageAllocator& allocate);

 private:
  IndexKeyEncoder encoder_;
  Format format_;
  std::vector<IndexEntry> entries_;
};

// The entries of an existing index pointed at the rows' new places, in key
// order again. Entries whose row `moved_to` does not know (deleted rows) are
// dropped.
std::vector<IndexEntry> carry_over_entries(const std::vector<IndexEntry>& old_entries,
                                           const std::function<std::optional<RowPointer>(RowPointer)>& moved_to);

}  // namespace jet::index
