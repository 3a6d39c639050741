#pragma once
// Sorted runs of index keys set aside in a scratch file while a table is
// copied. A table's index keys grow with its rows; once the key lists pass
// their memory budget the largest is sorted and written out, and when the
// table's rows are done each index merges its runs with what stayed in
// memory. Memory then stays bounded however many rows a table has.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/write/key_list.h"

namespace jet {
class Env;
class RandomAccessFile;
class WritableFile;
}  // namespace jet

namespace jet::write {

class KeyMerge;

class KeySpill {
 public:
  struct Run {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
  };
  using Visit = std::function<void(std::span<const std::uint8_t> key, std::uint64_t tag)>;

  // The file is created (exclusively) at `path` when the first run is
  // written, and removed when the spill is destroyed.
  KeySpill(Env& env, std::string path);
  ~KeySpill();
  KeySpill(const KeySpill&) = delete;
  KeySpill& operator=(const KeySpill&) = delete;

  // Appends a sorted list as one run.
  Run write_run(const KeyList& sorted);
  // Calls `visit` for every entry of the runs and of the sorted list, in
  // key order (equal keys by tag), as KeyList::sort orders them.
  void merge(const std::vector<Run>& runs, const KeyList& sorted, const Visit& visit);
  // The same entries, read one at a time. The merge reads the scratch file
  // through its own handle, so merges may run on other threads once every
  // run has been written.
  KeyMerge merged(const std::vector<Run>& runs, const KeyList& sorted);

 private:
  Env& env_;
  std::string path_;
  std::unique_ptr<WritableFile> out_;
  std::uint64_t size_ = 0;
};

// Entries of sorted runs on a scratch file and of a sorted list, one at a
// time in key order (equal keys by tag). The list must outlive the merge.
class KeyMerge {
 public:
  // `in` holds the runs; it may be null when there are none.
  KeyMerge(std::unique_ptr<RandomAccessFile> in, const std::vector<KeySpill::Run>& runs, const KeyList& sorted);
  ~KeyMerge();
  KeyMerge(KeyMerge&&) noexcept;
  KeyMerge& operator=(KeyMerge&&) noexcept;

  // Moves to the next entry; false once every entry has been given. The
  // key of the entry before is no longer valid.
  bool next();
  std::span<const std::uint8_t> key() const;
  std::uint64_t tag() const;

 private:
  class Sources;
  std::unique_ptr<Sources> sources_;
};

// Calls `visit` for every entry of a sorted list, in order.
void visit_sorted(const KeyList& sorted, const KeySpill::Visit& visit);

}  // namespace jet::write
