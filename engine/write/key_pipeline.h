#pragma once
// Index keys on their way from the rows to the index trees: gathered in key
// lists within a memory budget; a full list sorted and written as a run to
// a scratch file on a helper thread while the next keys are gathered; in
// the end merged back in key order. One pipeline per scratch file: the
// compactor has one for the index keys of the table being written and one
// for the primary keys that order the rows of the table being scanned, as
// the two may be at work at once.
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/write/key_list.h"
#include "engine/write/key_spill.h"

namespace jet {
class Env;
}

namespace jet::write {

// Key lists besides those being filled: one being written, one spare.
inline constexpr std::size_t kListsInFlight = 2;
// Primary-key lists take half the key budget (see RewriteOptions), shared
// with the lists in flight.
inline constexpr std::size_t kOrderLists = 2 * (1 + kListsInFlight);

class KeyPipeline {
 public:
  // Without `env` every key stays in memory. With it, the scratch file is
  // created at `path` when a list first outgrows its limit.
  KeyPipeline(Env* env, std::string path, std::size_t key_memory)
      : env_(env), path_(std::move(path)), key_memory_(key_memory) {}
  KeyPipeline(const KeyPipeline&) = delete;
  KeyPipeline& operator=(const KeyPipeline&) = delete;

  // Bytes each of `lists` key lists may hold before it is set aside on the
  // scratch file; no limit without one.
  std::size_t limit(std::size_t lists) const;

  // Adds a key to `keys`. A full list is handed to a helper thread that
  // sorts it and writes it to the scratch file as one run (filed with
  // `runs`), and the list goes on with the buffers of the list written
  // before; besides the lists being filled, one list is being written and
  // one kept for its buffers (kListsInFlight), which the limits leave room
  // for.
  void add(KeyList& keys, std::vector<KeySpill::Run>& runs, std::span<const std::uint8_t> key, std::uint64_t tag,
           std::size_t limit);

  // Waits for the run being written, if any, and files it with its list's
  // runs; a failure to write it is raised here.
  void finish_pending();

  // Every entry of the runs and of the sorted list, in key order.
  void merge(const std::vector<KeySpill::Run>& runs, const KeyList& sorted, const KeySpill::Visit& visit);

  // The scratch file; null until a list has been set aside.
  KeySpill* spill() const { return file_.get(); }

 private:
  Env* env_;
  std::string path_;
  std::size_t key_memory_;
  // Declared before the pending run, whose thread writes to it.
  std::unique_ptr<KeySpill> file_;
  std::future<std::pair<KeySpill::Run, KeyList>> pending_;  // the run, and the list's buffers back
  std::vector<KeySpill::Run>* pending_runs_ = nullptr;      // where the pending run belongs
  KeyList spare_;                                           // buffers of the list written last
};

}  // namespace jet::write
