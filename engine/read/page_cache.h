#pragma once
// A bounded least-recently-used cache of decrypted pages. Pages are shared
// immutable buffers, so a caller may hold one while the cache moves on.
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>

#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet {

class RandomAccessFile;

class PageCache {
 public:
  // `database_key` non-zero: pages after the header are RC4-decrypted.
  PageCache(RandomAccessFile& file, std::uint32_t page_size, std::uint32_t page_count,
            std::uint32_t database_key, std::size_t capacity);

  // Throws DamagedData for a page beyond the file.
  std::shared_ptr<const Bytes> get(PageNumber page);
  Bytes read_uncached(PageNumber page);

  std::size_t size() const { return lru_.size(); }
  std::uint64_t misses() const { return misses_; }

 private:
  using Entry = std::pair<PageNumber, std::shared_ptr<const Bytes>>;

  RandomAccessFile& file_;
  std::uint32_t page_size_;
  std::uint32_t page_count_;
  std::uint32_t database_key_;
  std::size_t capacity_;
  std::list<Entry> lru_;  // front: most recently used
  std::unordered_map<PageNumber, std::list<Entry>::iterator> index_;
  std::uint64_t misses_ = 0;
};

}  // namespace jet
