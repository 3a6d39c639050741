#include "engine/write/index_rebuild.h"

#include "engine/error.h"

namespace jet::write {

// Until the index encoder and B-tree builder are wired in, every index
// rebuild fails closed: a file with stale or missing indexes is never written.
Bytes index_key(const WriteFormat&, const TableDef&, const IndexData&, const Row&) {
  throw Error(errc::kNotBuiltYet, "Compacting tables with indexes is not supported yet.");
}

bool skips_row(const TableDef&, const IndexData&, const Row&) {
  throw Error(errc::kNotBuiltYet, "Compacting tables with indexes is not supported yet.");
}

BuiltIndex build_index(const WriteFormat&, std::uint32_t, const std::vector<IndexKeyEntry>&,
                       const std::function<std::uint32_t()>&) {
  throw Error(errc::kNotBuiltYet, "Compacting tables with indexes is not supported yet.");
}

}  // namespace jet::write
