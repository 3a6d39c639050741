#pragma once
// A bounded least-recently-used cache of decrypted pages. Pages are shared
// immutable buffers, so a caller may hold one while the cache moves on.
//
// Scans read pages in order (a table's data pages, the check's pass over
// the file, long-value chains), and one read call per page costs more than
// the copying. So a miss that continues a run of misses reads ahead: the
// next pages come in with one read call, a quarter of the cache at most.
// Pages read ahead that leave the cache unused make the runs shorter: a
// table whose pages lie between another table's (as in any file that grew
// by several tables at once) would otherwise have the whole file read
// once per table. Runs grow again while what they bring in is used. In an
// encrypted file a page read ahead is decrypted when first asked for, so
// one that leaves unasked costs no decryption.
#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "engine/crypt/page_cipher.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet {

class RandomAccessFile;

class PageCache {
 public:
  // With `cipher`, pages after the header are decrypted through it.
  PageCache(RandomAccessFile& file, std::uint32_t page_size, std::uint32_t page_count,
            std::shared_ptr<const crypt::PageCipher> cipher, std::size_t capacity);

  // Throws DamagedData for a page beyond the file.
  std::shared_ptr<const Bytes> get(PageNumber page);
  Bytes read_uncached(PageNumber page);
  // `count` pages from `first` with one read, decrypted, into `scratch`,
  // bypassing the cache: for a pass that looks at every page once. Throws
  // DamagedData when the run passes the end of the file. With `head` (a
  // multiple of 16), an encrypted page is decrypted that far only and the
  // rest of it reads as zeros: for a pass that looks at page headers. A
  // page whose decrypted head `whole` accepts is decrypted whole after all,
  // without being read again.
  using WholePage = std::function<bool(std::span<const std::uint8_t> head)>;
  std::span<const std::uint8_t> read_uncached_run(PageNumber first, std::uint32_t count, Bytes& scratch,
                                                  std::uint32_t head = 0, const WholePage& whole = {});

  std::size_t size() const { return lru_.size(); }
  std::uint64_t misses() const { return misses_; }
  // Read calls made for misses (a read-ahead run is one call).
  std::uint64_t reads() const { return reads_; }

  // Most pages one read-ahead brings in (256 KB of 4 KB pages), and the
  // fewest once runs were made shorter.
  static constexpr std::size_t kMaxReadAhead = 64;
  static constexpr std::size_t kMinReadAhead = 2;

 private:
  struct Entry {
    PageNumber page;
    std::shared_ptr<const Bytes> data;
    bool unused_ahead;  // read ahead, not asked for yet, and still encrypted
  };

  void insert(PageNumber page, std::shared_ptr<const Bytes> data, bool ahead = false);
  // Counts a page read ahead as used or as gone unused, and every so many
  // pages makes the runs shorter or longer by what was used.
  void judge_read_ahead(bool used);
  // Reads and decrypts one page into a page-sized buffer.
  void read_into(PageNumber page, Bytes& buf);
  void decrypt(PageNumber page, std::uint8_t* data) const;
  // A page-sized buffer: one the cache let go of and nobody holds, or new.
  std::shared_ptr<Bytes> page_buffer();
  // Reads `count` pages from `first` with one call; the caller knows they
  // lie inside the file.
  void read_run(PageNumber first, std::size_t count);
  // True when `page` continues one of the recent runs of misses.
  bool continues_a_run(PageNumber page);

  RandomAccessFile& file_;
  std::uint32_t page_size_;
  std::uint32_t page_count_;
  std::shared_ptr<const crypt::PageCipher> cipher_;
  std::size_t capacity_;
  std::size_t most_read_ahead_;  // pages per run at most, 1 when the cache is too small
  std::size_t read_ahead_;       // pages per run now
  std::size_t ahead_used_ = 0;
  std::size_t ahead_unused_ = 0;
  std::list<Entry> lru_;  // front: most recently used
  std::unordered_map<PageNumber, std::list<Entry>::iterator> index_;
  // The page after each of the last few runs of misses; several so that a
  // scan and the long-value chains it follows do not break each other's run.
  std::array<PageNumber, 4> run_ends_{};
  std::size_t next_run_slot_ = 0;
  // Buffers of evicted pages no caller held, for the next pages read: a
  // scan then reads through the cache without allocating per page.
  std::vector<std::shared_ptr<Bytes>> spare_;
  std::uint64_t misses_ = 0;
  std::uint64_t reads_ = 0;
};

}  // namespace jet
