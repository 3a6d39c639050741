#include "engine/write/index_rebuild.h"

#include "engine/error.h"
#include "engine/index/index_builder.h"

namespace jet::write {

// Until the index key encoder is wired in, computing a key fails closed: a
// file with stale or missing index entries is never written.
Bytes index_key(const WriteFormat&, const TableDef&, const IndexData&, const Row&) {
  throw Error(errc::kNotBuiltYet, "Compacting tables with indexes is not supported yet.");
}

bool skips_row(const TableDef&, const IndexData&, const Row&) {
  throw Error(errc::kNotBuiltYet, "Compacting tables with indexes is not supported yet.");
}

BuiltIndex build_index(const WriteFormat& format, std::uint32_t owner, const std::vector<IndexKeyEntry>& sorted,
                       const std::function<std::uint32_t()>& allocate_page) {
  std::vector<index::IndexEntry> entries;
  entries.reserve(sorted.size());
  for (const IndexKeyEntry& e : sorted) entries.push_back(index::IndexEntry{e.key, e.row, 0});
  index::BuiltIndex tree = index::build_index_tree(entries, format.jet4 ? index::Format::Jet4 : index::Format::Jet3,
                                                   owner, [&] { return allocate_page(); });
  BuiltIndex out;
  out.root = tree.root;
  for (index::BuiltPage& p : tree.pages) out.pages.push_back(FinishedPage{p.number, std::move(p.bytes)});
  return out;
}

}  // namespace jet::write
