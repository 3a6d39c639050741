#include "engine/write/key_pipeline.h"

#include <algorithm>
#include <limits>

namespace jet::write {

std::size_t KeyPipeline::limit(std::size_t lists) const {
  if (env_ == nullptr) return std::numeric_limits<std::size_t>::max();
  return key_memory_ / std::max<std::size_t>(lists, 1);
}

void KeyPipeline::add(KeyList& keys, std::vector<KeySpill::Run>& runs, std::span<const std::uint8_t> key,
                      std::uint64_t tag, std::size_t limit) {
  if (keys.add_within(key, tag, limit)) return;
  if (!file_) file_ = std::make_unique<KeySpill>(*env_, path_);
  finish_pending();
  KeyList full = std::exchange(keys, std::move(spare_));
  keys.clear();
  pending_runs_ = &runs;
  KeySpill& file = *file_;
  pending_ = std::async(std::launch::async, [&file, list = std::move(full)]() mutable {
    list.sort();
    const KeySpill::Run run = file.write_run(list);
    list.clear();
    return std::make_pair(run, std::move(list));
  });
  keys.add(key, tag);
}

void KeyPipeline::finish_pending() {
  if (!pending_.valid()) return;
  auto [run, list] = pending_.get();
  pending_runs_->push_back(run);
  spare_ = std::move(list);
}

void KeyPipeline::merge(const std::vector<KeySpill::Run>& runs, const KeyList& sorted, const KeySpill::Visit& visit) {
  if (runs.empty()) {
    visit_sorted(sorted, visit);
  } else {
    file_->merge(runs, sorted, visit);
  }
}

}  // namespace jet::write
