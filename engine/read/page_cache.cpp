#include "engine/read/page_cache.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/damaged.h"
#include "engine/format/rc4.h"

namespace jet {

PageCache::PageCache(RandomAccessFile& file, std::uint32_t page_size, std::uint32_t page_count,
                     std::uint32_t database_key, std::size_t capacity)
    : file_(file),
      page_size_(page_size),
      page_count_(page_count),
      database_key_(database_key),
      capacity_(capacity < 4 ? 4 : capacity),
      read_ahead_(std::clamp<std::size_t>(capacity_ / 4, 1, kMaxReadAhead)) {}

Bytes PageCache::read_uncached(PageNumber page) {
  if (page >= page_count_) {
    damaged("page " + std::to_string(page) + " is beyond the end of the file (" +
            std::to_string(page_count_) + " pages)");
  }
  Bytes buf(page_size_);
  file_.read(std::uint64_t{page} * page_size_, page_size_, buf.data());
  if (database_key_ != 0 && page != 0) rc4_apply_page(database_key_, page, buf.data(), buf.size());
  return buf;
}

bool PageCache::continues_a_run(PageNumber page) {
  for (PageNumber& end : run_ends_) {
    if (end == page && page != 0) return true;
  }
  run_ends_[next_run_slot_] = page + 1;
  next_run_slot_ = (next_run_slot_ + 1) % run_ends_.size();
  return false;
}

void PageCache::insert(PageNumber page, std::shared_ptr<const Bytes> data) {
  lru_.emplace_front(page, std::move(data));
  index_[page] = lru_.begin();
  if (lru_.size() > capacity_) {
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
}

void PageCache::read_run(PageNumber first, std::size_t count) {
  run_buffer_.resize(count * page_size_);
  file_.read(std::uint64_t{first} * page_size_, run_buffer_.size(), run_buffer_.data());
  ++reads_;
  // Furthest page first, so the requested one ends up most recently used.
  for (std::size_t i = count; i-- > 0;) {
    const auto page = static_cast<PageNumber>(first + i);
    if (index_.count(page) != 0) continue;
    const auto* from = run_buffer_.data() + i * page_size_;
    auto data = std::make_shared<Bytes>(from, from + page_size_);
    if (database_key_ != 0 && page != 0) rc4_apply_page(database_key_, page, data->data(), data->size());
    insert(page, std::move(data));
  }
}

std::shared_ptr<const Bytes> PageCache::get(PageNumber page) {
  auto it = index_.find(page);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return it->second->second;
  }
  ++misses_;
  if (page < page_count_ && read_ahead_ > 1 && continues_a_run(page)) {
    const std::size_t count = std::min<std::size_t>(read_ahead_, page_count_ - page);
    bool whole_run = true;
    try {
      read_run(page, count);
    } catch (const Error&) {
      // A failing read anywhere in the run must not fail pages before it:
      // fall back to the one page asked for, which reports its own error.
      whole_run = false;
    }
    if (whole_run) {
      for (PageNumber& end : run_ends_) {
        if (end == page) end = static_cast<PageNumber>(page + count);
      }
      return lru_.front().second;
    }
  }
  auto data = std::make_shared<const Bytes>(read_uncached(page));
  ++reads_;
  insert(page, data);
  return data;
}

}  // namespace jet
