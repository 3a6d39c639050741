#include "engine/write/index_feed.h"

#include <optional>
#include <stdexcept>

#include "engine/file/env.h"
#include "engine/write/batch_pipeline.h"

namespace jet::write {

namespace {

// Entries merged ahead: their keys back to back and where each lies.
struct EntryBatch {
  struct Entry {
    std::size_t index = 0;
    std::size_t begin = 0;  // in key_bytes
    std::size_t size = 0;
    std::uint64_t tag = 0;
  };
  // A batch this large goes on.
  static constexpr std::size_t kMaxEntries = 4096;
  static constexpr std::size_t kMaxBytes = std::size_t{128} << 10;

  Bytes key_bytes;
  std::vector<Entry> entries;

  void clear() {
    key_bytes.clear();
    entries.clear();
  }
  bool full() const { return entries.size() >= kMaxEntries || key_bytes.size() >= kMaxBytes; }
};

// The merging side: walks the indexes in turn, merging each.
class EntryMerger {
 public:
  EntryMerger(KeySpill* spill, std::span<const IndexKeySource> sources) : spill_(spill), sources_(sources) {}

  bool fill(EntryBatch& batch) {
    batch.clear();
    while (!batch.full()) {
      if (!merge_ && !start_next()) break;
      if (!merge_->next()) {
        merge_.reset();
        *sources_[index_].list = KeyList{};  // its memory is not needed for the next index
        ++index_;
        continue;
      }
      const std::span<const std::uint8_t> key = merge_->key();
      batch.entries.push_back({index_, batch.key_bytes.size(), key.size(), merge_->tag()});
      batch.key_bytes.insert(batch.key_bytes.end(), key.begin(), key.end());
    }
    return !batch.entries.empty();
  }

 private:
  bool start_next() {
    if (index_ >= sources_.size()) return false;
    const IndexKeySource& source = sources_[index_];
    source.list->sort();
    if (source.runs->empty()) {
      merge_.emplace(nullptr, *source.runs, *source.list);
    } else {
      if (spill_ == nullptr) throw std::logic_error("runs of index keys without their scratch file");
      merge_.emplace(spill_->merged(*source.runs, *source.list));
    }
    return true;
  }

  KeySpill* spill_;
  std::span<const IndexKeySource> sources_;
  std::size_t index_ = 0;  // the index being merged
  std::optional<KeyMerge> merge_;
};

}  // namespace

void feed_index_entries(KeySpill* spill, std::span<const IndexKeySource> sources, bool threaded,
                        const IndexEntryVisit& take) {
  EntryMerger merger(spill, sources);
  run_batches<EntryBatch>(
      threaded, [&](EntryBatch& batch) { return merger.fill(batch); },
      [&](EntryBatch& batch) {
        for (const EntryBatch::Entry& e : batch.entries) {
          take(e.index, std::span<const std::uint8_t>(batch.key_bytes.data() + e.begin, e.size), e.tag);
        }
      });
}

}  // namespace jet::write
