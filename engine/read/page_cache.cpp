#include "engine/read/page_cache.h"

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
      capacity_(capacity < 4 ? 4 : capacity) {}

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

std::shared_ptr<const Bytes> PageCache::get(PageNumber page) {
  auto it = index_.find(page);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return it->second->second;
  }
  ++misses_;
  auto data = std::make_shared<const Bytes>(read_uncached(page));
  lru_.emplace_front(page, data);
  index_[page] = lru_.begin();
  if (lru_.size() > capacity_) {
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
  return data;
}

}  // namespace jet
