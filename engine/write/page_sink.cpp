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

void PageSink::hand_off() {
  if (run_.empty()) return;
  if (!cipher_) {
    out_.write(std::uint64_t{run_start_} * format_.page_size, run_.data(), run_.size());
    run_.clear();
    return;
  }
  wait_for_pending();  // one run in flight at a time
  pending_ = std::async(std::launch::async, [this, first = run_start_, run = std::move(run_)]() mutable {
    const std::size_t size = format_.page_size;
    for (std::size_t i = 0; i < run.size() / size; ++i) {
      const auto number = static_cast<std::uint32_t>(first + i);
      if (number != 0) cipher_->encrypt(number, run.data() + i * size, size);
    }
    out_.write(std::uint64_t{first} * size, run.data(), run.size());
    return std::move(run);
  });
  run_ = std::move(spare_);
  run_.clear();
}

void PageSink::wait_for_pending() {
  if (!pending_.valid()) return;
  std::future<Bytes> pending = std::move(pending_);
  spare_ = pending.get();  // rethrows what the write threw
}

void PageSink::flush() {
  hand_off();
  wait_for_pending();
}

}  // namespace jet::write
