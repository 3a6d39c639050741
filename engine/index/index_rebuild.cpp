#include "engine/index/index_rebuild.h"

#include <algorithm>

namespace jet::index {
namespace {

void sort_entries(std::vector<IndexEntry>& v) {
  std::sort(v.begin(), v.end(), [](const IndexEntry& a, const IndexEntry& b) { return compare_entries(a, b) < 0; });
}

}  // namespace

IndexRebuilder::IndexRebuilder(const TableDef& table, const IndexData& index, Format format,
                               std::optional<TextOrder> text_order)
    : encoder_(table, index, format, text_order), format_(format) {}

void IndexRebuilder::add_row(RowPointer where, const Row& row) {
  if (auto key = encoder_.key_for(row)) entries_.push_back({std::move(*key), where, 0});
}

BuiltIndex IndexRebuilder::build(PageNumber owner, const PageAllocator& allocate) {
  sort_entries(entries_);
  return build_index_tree(entries_, format_, owner, allocate);
}

std::vector<IndexEntry> carry_over_entries(const std::vector<IndexEntry>& old_entries,
                                           const std::function<std::optional<RowPointer>(RowPointer)>& moved_to) {
  std::vector<IndexEntry> out;
  out.reserve(old_entries.size());
  for (const IndexEntry& e : old_entries) {
    if (auto where = moved_to(e.row)) out.push_back({e.key, *where, 0});
  }
  sort_entries(out);
  return out;
}

}  // namespace jet::index
