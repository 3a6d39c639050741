#pragma once
// Where the writer's finished pages go: the new file, each page encrypted
// the way the source's pages are. Pages arrive in any order but mostly in
// ascending runs (data pages, then a table's long values and indexes), so
// consecutive pages are written with one call per run rather than one per
// page. Pages are handed to a writer thread of the sink's own in batches of
// about 1 MB, whatever runs they hold (a copy's data and long-value pages
// alternate, which makes runs of 15 pages on average), and the writer
// encrypts them when the file is encrypted and writes them while the next
// batch gathers: copying pages into the system's cache costs about as much
// as gathering them, encrypting them more, and the gathering thread is the
// compaction's busiest. A few batches may wait for the writer, so that on a
// busy machine the gathering thread does not stop each time the writer
// waits for a core (a thread per run, tried first, doubled the time
// there). An encrypted file has two writer threads: a page is one AES-CBC
// chain, encrypted block after block, and one thread encrypting every page
// held the gathering thread up for a quarter of the compaction. Batches go
// to the file one at a time, in whichever order they were encrypted.
#include <cstdint>
#include <functional>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
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

  PageSink(const PageSink&) = delete;
  PageSink& operator=(const PageSink&) = delete;
  // Stops the writer threads; pages not flushed are dropped.
  ~PageSink();

 private:
  WritableFile& out_;
  WriteFormat format_;
  std::shared_ptr<const crypt::PageCipher> cipher_;
  Progress progress_;
  std::uint64_t expected_;
  std::vector<bool> written_;
  std::uint64_t count_ = 0;
  // Queues the gathered batch for the writers.
  void hand_off();
  // A writer thread: encrypts and writes queued batches until closed.
  void write_queued();
  // Rethrows what the writer failed with.
  void throw_writer_failure();

  // Consecutive pages, written with one call.
  struct Run {
    std::uint32_t first;
    std::uint32_t count;
  };
  // Pages gathered for a writer: the runs' pages one after the other.
  struct Batch {
    std::vector<Run> runs;
    Bytes pages;
  };
  std::vector<Run> runs_;  // the batch being gathered
  Bytes pages_;

  static constexpr std::size_t kBatchesQueued = 4;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> queue_;      // batches for the writers, oldest first
  std::vector<Bytes> spare_;     // buffers the writers gave back, so batches cost no fresh memory
  int writing_ = 0;              // batches the writers hold
  bool closing_ = false;
  std::exception_ptr failure_;   // the writers' first failure; later batches are dropped
  std::mutex file_mutex_;        // one write to the file at a time
  std::vector<std::thread> writers_;  // started with the first batch
};

}  // namespace jet::write
