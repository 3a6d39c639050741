#pragma once
// A table's index entries in the order they go into its index trees: each
// index's runs on the scratch file merged with the list still in memory,
// index after index. Laying out a tree must stay on one thread, since it
// takes page numbers in turn, but merging need not: with `threaded`, a
// helper thread merges ahead in batches while the caller builds pages from
// the batches before. Both ways give the entries in the same order.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/write/key_list.h"
#include "engine/write/key_spill.h"

namespace jet::write {

// One index's entries: the list still in memory (sorted here, and its
// memory let go once merged) and its runs on the scratch file.
struct IndexKeySource {
  KeyList* list = nullptr;
  const std::vector<KeySpill::Run>* runs = nullptr;
};

using IndexEntryVisit = std::function<void(std::size_t index, std::span<const std::uint8_t> key, std::uint64_t tag)>;

// Calls `take` on the calling thread for every entry, the first index's
// entries first, each index's in key order (equal keys by tag). `spill`
// holds the runs; it may be null when no index has any. A failure on
// either side ends both and is raised here.
void feed_index_entries(KeySpill* spill, std::span<const IndexKeySource> sources, bool threaded,
                        const IndexEntryVisit& take);

}  // namespace jet::write
