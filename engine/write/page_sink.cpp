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
    flush();
    run_start_ = number;
  }
  const std::size_t at = run_.size();
  run_.insert(run_.end(), page.begin(), page.end());
  if (cipher_ && number != 0) cipher_->encrypt(number, run_.data() + at, page.size());
  if (progress_) progress_(count_, std::max<std::uint64_t>(expected_, count_));
}

void PageSink::flush() {
  if (run_.empty()) return;
  out_.write(std::uint64_t{run_start_} * format_.page_size, run_.data(), run_.size());
  run_.clear();
}

}  // namespace jet::write
