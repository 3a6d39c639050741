#include "engine/write/page_sink.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/file/env.h"

namespace jet::write {

namespace {
constexpr std::size_t kBatchBytes = 1 << 20;  // pages gathered before they go to a writer
}

PageSink::PageSink(WritableFile& out, const WriteFormat& format, std::shared_ptr<const crypt::PageCipher> cipher, Progress progress,
                   std::uint64_t expected)
    : out_(out), format_(format), cipher_(std::move(cipher)), progress_(std::move(progress)), expected_(expected) {}

void PageSink::write(std::uint32_t number, std::span<const std::uint8_t> page) {
  if (page.size() != format_.page_size) {
    throw Error(errc::kCannotOpenDatabase, "Internal error while writing the new database: page of the wrong size.");
  }
  if (number >= written_.size()) written_.resize(std::max<std::size_t>(number + 1, written_.size() * 2), false);
  if (written_[number]) {
    throw Error(errc::kCannotOpenDatabase, "Internal error while writing the new database: page written twice.");
  }
  written_[number] = true;
  ++count_;
  if (pages_.size() >= kBatchBytes) hand_off();
  if (!runs_.empty() && number == runs_.back().first + runs_.back().count) {
    ++runs_.back().count;
  } else {
    runs_.push_back(Run{number, 1});
  }
  pages_.insert(pages_.end(), page.begin(), page.end());
  if (progress_) progress_(count_, std::max<std::uint64_t>(expected_, count_));
}

PageSink::~PageSink() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& writer : writers_) writer.join();
}

void PageSink::hand_off() {
  if (pages_.empty()) return;
  if (writers_.empty()) {
    const int count = cipher_ ? 2 : 1;
    for (int i = 0; i < count; ++i) writers_.emplace_back([this] { write_queued(); });
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kBatchesQueued || failure_; });
  throw_writer_failure();
  queue_.push_back(Batch{std::move(runs_), std::move(pages_)});
  runs_.clear();
  pages_.clear();
  if (!spare_.empty()) {
    pages_ = std::move(spare_.back());
    spare_.pop_back();
    pages_.clear();
  }
  lock.unlock();
  changed_.notify_all();
}

void PageSink::write_queued() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (closing_) return;  // batches not flushed belong to a copy given up
    Batch batch = std::move(queue_.front());
    queue_.pop_front();
    ++writing_;
    lock.unlock();
    std::exception_ptr failed;
    try {
      const std::size_t size = format_.page_size;
      if (cipher_) {
        std::uint8_t* page = batch.pages.data();
        for (const Run& run : batch.runs) {
          for (std::uint32_t number = run.first; number < run.first + run.count; ++number, page += size) {
            if (number != 0) cipher_->encrypt(number, page, size);
          }
        }
      }
      std::lock_guard file_lock(file_mutex_);
      const std::uint8_t* pages = batch.pages.data();
      for (const Run& run : batch.runs) {
        out_.write(std::uint64_t{run.first} * size, pages, run.count * size);
        pages += run.count * size;
      }
    } catch (...) {
      failed = std::current_exception();
    }
    lock.lock();
    --writing_;
    if (failed && !failure_) failure_ = failed;
    if (failure_) queue_.clear();  // nothing after a failed write is of use
    spare_.push_back(std::move(batch.pages));
    changed_.notify_all();
  }
}

void PageSink::throw_writer_failure() {
  if (failure_) std::rethrow_exception(failure_);
}

void PageSink::flush() {
  hand_off();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return (queue_.empty() && writing_ == 0) || failure_; });
  throw_writer_failure();
}

}  // namespace jet::write
