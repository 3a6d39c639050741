#include "engine/write/page_sink.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/file/env.h"

namespace jet::write {

namespace {
constexpr std::size_t kRunBytes = 1 << 20;  // pages gathered before one write
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
  const bool follows = !run_.empty() && number == run_start_ + run_.size() / format_.page_size;
  if (!follows || run_.size() >= kRunBytes) {
    hand_off();
    run_start_ = number;
  }
  run_.insert(run_.end(), page.begin(), page.end());
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
  if (run_.empty()) return;
  if (writers_.empty()) {
    const int count = cipher_ ? 2 : 1;
    for (int i = 0; i < count; ++i) writers_.emplace_back([this] { write_queued(); });
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kRunsQueued || failure_; });
  throw_writer_failure();
  queue_.push_back(QueuedRun{run_start_, std::move(run_)});
  run_.clear();
  if (!spare_.empty()) {
    run_ = std::move(spare_.back());
    spare_.pop_back();
    run_.clear();
  }
  lock.unlock();
  changed_.notify_all();
}

void PageSink::write_queued() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (closing_) return;  // runs not flushed belong to a copy given up
    QueuedRun run = std::move(queue_.front());
    queue_.pop_front();
    ++writing_;
    lock.unlock();
    std::exception_ptr failed;
    try {
      const std::size_t size = format_.page_size;
      for (std::size_t i = 0; cipher_ && i < run.pages.size() / size; ++i) {
        const auto number = static_cast<std::uint32_t>(run.first + i);
        if (number != 0) cipher_->encrypt(number, run.pages.data() + i * size, size);
      }
      std::lock_guard file_lock(file_mutex_);
      out_.write(std::uint64_t{run.first} * size, run.pages.data(), run.pages.size());
    } catch (...) {
      failed = std::current_exception();
    }
    lock.lock();
    --writing_;
    if (failed && !failure_) failure_ = failed;
    if (failure_) queue_.clear();  // nothing after a failed write is of use
    spare_.push_back(std::move(run.pages));
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
