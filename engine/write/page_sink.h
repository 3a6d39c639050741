#pragma once
// Where the writer's finished pages go: the new file, each page encrypted
// the way the source's pages are. Pages arrive in any order but mostly in
// ascending runs (data pages, then a table's long values and indexes), so
// consecutive pages are gathered and written with one call per run rather
// than one per page. Encrypted runs are encrypted and written on a second
// thread while the next run gathers: encryption costs more than gathering,
// and the compaction leaves a core to spare.
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <vector>

#include "engine/crypt/page_cipher.h"
#include "engine/model/value.h"
#include "engine/write/write_format.h"

namespace jet {
class WritableFile;
}

namespace jet::write {

class PageSink {
 public:
  using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

  // `expected` is the page count progress reports against until more pages
  // than that have been written.
  // With `cipher`, pages after the header are encrypted through it.
  PageSink(WritableFile& out, const WriteFormat& format, std::shared_ptr<const crypt::PageCipher> cipher, Progress progress,
           std::uint64_t expected);

  // Takes a whole page; a page number given twice is an internal error.
  void write(std::uint32_t number, std::span<const std::uint8_t> page);
  // Writes out the pages still gathered and waits for every write. Call
  // before syncing the file.
  void flush();

  std::uint64_t pages_written() const { return count_; }

 private:
  WritableFile& out_;
  WriteFormat format_;
  std::shared_ptr<const crypt::PageCipher> cipher_;
  Progress progress_;
  std::uint64_t expected_;
  std::vector<bool> written_;
  std::uint64_t count_ = 0;
  // Starts writing the gathered run (on the second thread when encrypted).
  void hand_off();
  void wait_for_pending();

  Bytes run_;                  // consecutive pages not yet written
  std::future<Bytes> pending_;  // the encrypted run being written; gives its buffer back
  Bytes spare_;                 // a buffer for the next run, so runs cost no fresh memory
  std::uint32_t run_start_ = 0;  // page number of the run's first page
};

}  // namespace jet::write
