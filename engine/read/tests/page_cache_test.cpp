// The page cache: reads ahead on runs of misses (less when what it brings
// in goes unused), stays within its size, and a failing read inside a run
// fails only the page that cannot be read.
#include "engine/read/page_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/file/file_errors.h"
#include "engine/format/damaged.h"
#include "engine/format/rc4.h"

namespace jet {
namespace {

constexpr std::uint32_t kPageSize = 64;  // small pages keep the test cheap

// Pages whose bytes say which page they are; counts read calls and fails
// any read that covers the byte at `bad_offset`.
class PatternFile : public RandomAccessFile {
 public:
  explicit PatternFile(std::uint32_t pages) : bytes_(std::size_t{pages} * kPageSize) {
    for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<std::uint8_t>(i / kPageSize * 7 + i);
  }
  void read(std::uint64_t offset, std::size_t n, std::uint8_t* dst) override {
    ++reads;
    bytes_read += n;
    if (offset + n > bytes_.size()) throw damaged_file_error(path_, "read past the end of the file");
    if (bad_offset >= offset && bad_offset < offset + n) throw Error(3043, "Disk or network error.");
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, dst);
  }
  // One call for all the blocks, as on disk.
  void read_blocks(std::uint64_t offset, std::span<std::uint8_t* const> buffers, std::size_t each) override {
    const int before = reads;
    for (std::size_t i = 0; i < buffers.size(); ++i) read(offset + i * each, each, buffers[i]);
    reads = before + 1;
  }
  std::uint64_t size() override { return bytes_.size(); }
  const std::string& path() const override { return path_; }

  Bytes page(PageNumber p) const {
    return Bytes(bytes_.begin() + std::ptrdiff_t{p} * kPageSize, bytes_.begin() + std::ptrdiff_t{p + 1} * kPageSize);
  }

  int reads = 0;
  std::uint64_t bytes_read = 0;
  std::uint64_t bad_offset = ~std::uint64_t{0};

 private:
  Bytes bytes_;
  std::string path_ = "pattern.mdb";
};

TEST(PageCache, ReadsRunsAheadAndStaysWithinItsSize) {
  PatternFile file(1000);
  PageCache cache(file, kPageSize, 1000, nullptr, 40);
  for (PageNumber p = 0; p < 1000; ++p) {
    ASSERT_EQ(*cache.get(p), file.page(p)) << p;
    ASSERT_LE(cache.size(), 40u);
  }
  // 40 pages of cache read ahead 10 at a time.
  EXPECT_LT(file.reads, 120);
  EXPECT_EQ(cache.misses(), cache.reads());  // the pages read ahead were hits
}

// Evicted pages lend their buffers to the next reads, but never a buffer a
// caller still holds: its bytes must stay those of its page.
TEST(PageCache, PagesStillHeldAreNeverReused) {
  PatternFile file(1000);
  PageCache cache(file, kPageSize, 1000, nullptr, 16);
  std::vector<std::shared_ptr<const Bytes>> held;
  for (PageNumber p = 0; p < 1000; ++p) {
    auto page = cache.get(p);
    if (p % 97 == 0) held.push_back(page);
  }
  for (PageNumber p = 999; p-- > 0;) ASSERT_EQ(*cache.get(p), file.page(p)) << p;  // recycled buffers read right
  for (std::size_t i = 0; i < held.size(); ++i) {
    EXPECT_EQ(*held[i], file.page(static_cast<PageNumber>(i * 97))) << i * 97;
  }
}

TEST(PageCache, ScatteredReadsDoNotReadAhead) {
  PatternFile file(1000);
  PageCache cache(file, kPageSize, 1000, nullptr, 40);
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    const auto p = static_cast<PageNumber>(rng() % 1000);
    ASSERT_EQ(*cache.get(p), file.page(p));
  }
  EXPECT_EQ(static_cast<std::uint64_t>(file.reads), cache.reads());
  EXPECT_LE(cache.reads(), cache.misses() + 10);  // a chance neighbour may start a run
}

// A table whose pages lie two in every eight, with another's between: the
// read-ahead that brought in mostly pages nobody asked for shrinks, so the
// scan reads little more than its own pages; a whole-file scan after it
// reads ahead in long runs again.
TEST(PageCache, ReadAheadShrinksWhenItsPagesGoUnusedAndGrowsBack) {
  constexpr PageNumber kPages = 8000;
  PatternFile file(kPages);
  PageCache cache(file, kPageSize, kPages, nullptr, 256);
  std::uint64_t asked = 0;
  for (PageNumber p = 0; p + 1 < kPages; p += 8) {
    for (PageNumber q : {p, p + 1}) {
      ASSERT_EQ(*cache.get(q), file.page(q)) << q;
      asked += kPageSize;
    }
  }
  EXPECT_LT(file.bytes_read, 2 * asked);  // 4x the pages asked for without shrinking
  file.reads = 0;
  for (PageNumber p = 0; p < kPages; ++p) ASSERT_EQ(*cache.get(p), file.page(p)) << p;
  EXPECT_LT(file.reads, static_cast<int>(kPages / 16));
}

TEST(PageCache, TwoInterleavedScansBothReadAhead) {
  PatternFile file(1000);
  PageCache cache(file, kPageSize, 1000, nullptr, 64);
  for (PageNumber p = 0; p < 400; ++p) {
    ASSERT_EQ(*cache.get(p), file.page(p));
    ASSERT_EQ(*cache.get(500 + p), file.page(500 + p));
  }
  EXPECT_LT(file.reads, 120);
}

TEST(PageCache, AFailingPageInsideARunFailsAloneAndTheRunEndsAtTheFileEnd) {
  PatternFile file(100);
  file.bad_offset = 55 * kPageSize + 3;
  PageCache cache(file, kPageSize, 100, nullptr, 40);
  for (PageNumber p = 0; p < 100; ++p) {
    if (p == 55) {
      EXPECT_THROW(cache.get(p), Error);
      continue;
    }
    ASSERT_EQ(*cache.get(p), file.page(p)) << p;
  }
  EXPECT_THROW(cache.get(100), std::exception);  // beyond the file
}

// Jet's RC4, counting the pages it decrypts.
class CountingCipher : public crypt::PageCipher {
 public:
  void decrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override {
    ++decrypted;
    rc4_->decrypt(page, data, n);
  }
  void encrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override { rc4_->encrypt(page, data, n); }
  mutable int decrypted = 0;

 private:
  std::shared_ptr<const crypt::PageCipher> rc4_ = crypt::jet_rc4_cipher(0x6B39DAC7u);
};

// Pages read ahead are decrypted once, when first asked for; those never
// asked for are not decrypted at all.
TEST(PageCache, EncryptedPagesReadAheadDecryptLikeSinglePages) {
  PatternFile file(200);
  auto counting = std::make_shared<CountingCipher>();
  PageCache ahead(file, kPageSize, 200, counting, 64);
  PageCache single(file, kPageSize, 200, crypt::jet_rc4_cipher(0x6B39DAC7u), 4);  // too small to read ahead
  for (PageNumber p = 0; p < 200; p += 2) {
    ASSERT_EQ(*ahead.get(p), single.read_uncached(p)) << p;
    ASSERT_EQ(*ahead.get(p), single.read_uncached(p)) << p;
  }
  EXPECT_EQ(counting->decrypted, 99);  // every other page but the header
  for (PageNumber p = 1; p < 200; p += 2) ASSERT_EQ(*ahead.get(p), single.read_uncached(p)) << p;
  EXPECT_EQ(*ahead.get(0), file.page(0));  // the header page stays as stored
}

// A run read past the cache holds the same pages, decrypted, as single
// reads, with one read call and nothing cached; a run past the file's end
// is damage, not a short read.
TEST(PageCache, UncachedRunsMatchSinglePages) {
  PatternFile file(100);
  PageCache cache(file, kPageSize, 100, crypt::jet_rc4_cipher(0x6B39DAC7u), 8);
  Bytes scratch;
  file.reads = 0;
  const std::span<const std::uint8_t> run = cache.read_uncached_run(0, 30, scratch);
  EXPECT_EQ(file.reads, 1);
  EXPECT_EQ(cache.size(), 0u);
  ASSERT_EQ(run.size(), 30u * kPageSize);
  for (PageNumber p = 0; p < 30; ++p) {
    ASSERT_TRUE(std::ranges::equal(run.subspan(std::size_t{p} * kPageSize, kPageSize), cache.read_uncached(p))) << p;
  }
  EXPECT_THROW(cache.read_uncached_run(90, 11, scratch), DamagedData);
}

// A run read for its page heads: each encrypted page decrypted that far, the
// rest zero; the header page as stored.
TEST(PageCache, HeadRunsDecryptOnlyTheHeads) {
  PatternFile file(40);
  PageCache cache(file, kPageSize, 40, crypt::jet_rc4_cipher(0x6B39DAC7u), 8);
  constexpr std::uint32_t kHead = 32;
  Bytes scratch;
  const std::span<const std::uint8_t> run = cache.read_uncached_run(0, 40, scratch, kHead);
  for (PageNumber p = 0; p < 40; ++p) {
    const Bytes whole = cache.read_uncached(p);
    const auto at = run.begin() + std::ptrdiff_t{p} * kPageSize;
    const std::size_t head = p == 0 ? kPageSize : kHead;
    ASSERT_TRUE(std::equal(at, at + std::ptrdiff_t(head), whole.begin())) << p;
    ASSERT_TRUE(std::all_of(at + std::ptrdiff_t(head), at + kPageSize, [](std::uint8_t b) { return b == 0; })) << p;
  }

  // Pages whose decrypted head asks for more come whole, read once.
  std::vector<Bytes> heads;
  const auto every_third = [&](std::span<const std::uint8_t> h) {
    heads.emplace_back(h.begin(), h.end());
    return heads.size() % 3 == 1;
  };
  file.reads = 0;
  const std::span<const std::uint8_t> mixed = cache.read_uncached_run(0, 40, scratch, kHead, every_third);
  EXPECT_EQ(file.reads, 1);
  ASSERT_EQ(heads.size(), 39u);  // the header page is not decrypted
  for (PageNumber p = 1; p < 40; ++p) {
    const Bytes whole = cache.read_uncached(p);
    ASSERT_TRUE(std::ranges::equal(heads[p - 1], std::span(whole).first(kHead))) << p;
    const auto at = mixed.subspan(std::size_t{p} * kPageSize, kPageSize);
    if (p % 3 == 1) {
      ASSERT_TRUE(std::ranges::equal(at, whole)) << p;
    } else {
      ASSERT_TRUE(std::ranges::equal(at.first(kHead), std::span(whole).first(kHead))) << p;
      ASSERT_TRUE(std::ranges::all_of(at.subspan(kHead), [](std::uint8_t b) { return b == 0; })) << p;
    }
  }
}

}  // namespace
}  // namespace jet
