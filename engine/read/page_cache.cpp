#include "engine/read/page_cache.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/damaged.h"

namespace jet {

PageCache::PageCache(RandomAccessFile& file, std::uint32_t page_size, std::uint32_t page_count,
                     std::shared_ptr<const crypt::PageCipher> cipher, std::size_t capacity)
    : file_(file),
      page_size_(page_size),
      page_count_(page_count),
      cipher_(std::move(cipher)),
      capacity_(capacity < 4 ? 4 : capacity),
      most_read_ahead_(std::clamp<std::size_t>(capacity_ / 4, 1, kMaxReadAhead)),
      read_ahead_(most_read_ahead_) {}

Bytes PageCache::read_uncached(PageNumber page) {
  Bytes buf(page_size_);
  read_into(page, buf);
  return buf;
}

std::span<const std::uint8_t> PageCache::read_uncached_run(PageNumber first, std::uint32_t count, Bytes& scratch,
                                                           std::uint32_t head, const WholePage& whole) {
  if (count == 0) return {};
  if (first >= page_count_ || count > page_count_ - first) {
    damaged("pages " + std::to_string(first) + "-" + std::to_string(std::uint64_t{first} + count - 1) +
            " are beyond the end of the file (" + std::to_string(page_count_) + " pages)");
  }
  scratch.resize(std::size_t{count} * page_size_);
  file_.read(std::uint64_t{first} * page_size_, scratch.size(), scratch.data());
  if (!cipher_) return scratch;
  if (head == 0 || head >= page_size_) {
    for (std::uint32_t i = 0; i < count; ++i) decrypt(first + i, scratch.data() + std::size_t{i} * page_size_);
    return scratch;
  }
  // The head is decrypted beside the page, whose bytes stay as stored
  // until it is known whether the whole page is wanted.
  Bytes decrypted_head(head);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t* page = scratch.data() + std::size_t{i} * page_size_;
    if (first + i == 0) continue;
    std::copy_n(page, head, decrypted_head.begin());
    cipher_->decrypt(first + i, decrypted_head.data(), head);
    if (whole && whole(decrypted_head)) {
      cipher_->decrypt(first + i, page, page_size_);
    } else {
      std::copy(decrypted_head.begin(), decrypted_head.end(), page);
      std::fill(page + head, page + page_size_, std::uint8_t{0});
    }
  }
  return scratch;
}

void PageCache::decrypt(PageNumber page, std::uint8_t* data) const {
  if (cipher_ && page != 0) cipher_->decrypt(page, data, page_size_);
}

void PageCache::read_into(PageNumber page, Bytes& buf) {
  if (page >= page_count_) {
    damaged("page " + std::to_string(page) + " is beyond the end of the file (" +
            std::to_string(page_count_) + " pages)");
  }
  file_.read(std::uint64_t{page} * page_size_, page_size_, buf.data());
  decrypt(page, buf.data());
}

bool PageCache::continues_a_run(PageNumber page) {
  for (PageNumber& end : run_ends_) {
    if (end == page && page != 0) return true;
  }
  run_ends_[next_run_slot_] = page + 1;
  next_run_slot_ = (next_run_slot_ + 1) % run_ends_.size();
  return false;
}

void PageCache::judge_read_ahead(bool used) {
  ++(used ? ahead_used_ : ahead_unused_);
  // Judged over a few runs' worth of pages: shorter runs when less than
  // half was used, longer when nearly all was.
  if (ahead_used_ + ahead_unused_ < 2 * kMaxReadAhead) return;
  if (ahead_unused_ > ahead_used_) {
    read_ahead_ = std::max(std::min(kMinReadAhead, most_read_ahead_), read_ahead_ / 2);
  } else if (ahead_unused_ * 8 < ahead_used_) {
    read_ahead_ = std::min(most_read_ahead_, read_ahead_ * 2);
  }
  ahead_used_ = 0;
  ahead_unused_ = 0;
}

void PageCache::insert(PageNumber page, std::shared_ptr<const Bytes> data, bool ahead) {
  if (lru_.size() < capacity_) {
    lru_.push_front(Entry{page, std::move(data), ahead});
    index_[page] = lru_.begin();
    return;
  }
  // Full: the least recently used entry's list and index nodes take the new
  // page, and its buffer is kept for reuse when no caller still holds it.
  const auto last = std::prev(lru_.end());
  auto node = index_.extract(last->page);
  if (last->unused_ahead) judge_read_ahead(false);
  if (last->data.use_count() == 1 && spare_.size() < kMaxReadAhead) {
    spare_.push_back(std::const_pointer_cast<Bytes>(std::move(last->data)));
  }
  last->page = page;
  last->data = std::move(data);
  last->unused_ahead = ahead;
  lru_.splice(lru_.begin(), lru_, last);
  node.key() = page;
  node.mapped() = lru_.begin();
  index_.insert(std::move(node));
}

std::shared_ptr<Bytes> PageCache::page_buffer() {
  if (spare_.empty()) return std::make_shared<Bytes>(page_size_);
  std::shared_ptr<Bytes> buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}

void PageCache::read_run(PageNumber first, std::size_t count) {
  std::vector<std::shared_ptr<Bytes>> buffers(count);
  std::vector<std::uint8_t*> targets(count);
  for (std::size_t i = 0; i < count; ++i) {
    buffers[i] = page_buffer();
    targets[i] = buffers[i]->data();
  }
  file_.read_blocks(std::uint64_t{first} * page_size_, targets, page_size_);
  ++reads_;
  // Furthest page first, so the requested one ends up most recently used.
  for (std::size_t i = count; i-- > 0;) {
    const auto page = static_cast<PageNumber>(first + i);
    if (index_.count(page) != 0) {
      if (spare_.size() < kMaxReadAhead) spare_.push_back(std::move(buffers[i]));
      continue;
    }
    // Pages read ahead are decrypted when first asked for: in an encrypted
    // file, one that leaves the cache unasked costs no decryption.
    if (i == 0) decrypt(page, buffers[i]->data());
    insert(page, std::move(buffers[i]), i != 0);
  }
}

std::shared_ptr<const Bytes> PageCache::get(PageNumber page) {
  auto it = index_.find(page);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    if (it->second->unused_ahead) {
      // Nobody holds a page read ahead before it is first asked for.
      decrypt(page, std::const_pointer_cast<Bytes>(it->second->data)->data());
      it->second->unused_ahead = false;
      judge_read_ahead(true);
    }
    return it->second->data;
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
      return lru_.front().data;
    }
  }
  std::shared_ptr<Bytes> data = page_buffer();
  read_into(page, *data);
  ++reads_;
  insert(page, data);
  return data;
}

}  // namespace jet
