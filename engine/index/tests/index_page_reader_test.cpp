// Index page parsing and tree walking, on the sample databases and on pages
// built and then damaged on purpose.
#include "engine/index/index_page_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/index/index_page_builder.h"
#include "engine/index/index_tree_reader.h"
#include "engine/index/tests/corpus_files.h"

namespace jet::index {
namespace {

using testing::corpus_files;
using testing::load_raw;

IndexEntry leaf_entry(std::uint8_t k, PageNumber page, std::uint16_t row) {
  return IndexEntry{Bytes{0x7F, 0x80, 0x00, 0x00, k}, RowPointer{page, row}, 0};
}

std::vector<IndexEntry> ascending_entries(int n) {
  std::vector<IndexEntry> v;
  for (int i = 0; i < n; ++i) v.push_back(leaf_entry(static_cast<std::uint8_t>(i), 100, static_cast<std::uint16_t>(i)));
  return v;
}

int error_number(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(IndexPageReader, BuiltLeafRoundTripsWithPrefixAndHeader) {
  for (Format f : {Format::Jet3, Format::Jet4}) {
    IndexPagePlan plan{true, 77, 5, 9, 0, ascending_entries(40), std::nullopt};
    const Bytes page = build_index_page(plan, f);
    ASSERT_EQ(page.size(), layout_for(f).page_size);
    const IndexPage parsed = parse_index_page(page, f, 12);
    EXPECT_TRUE(parsed.leaf);
    EXPECT_EQ(parsed.owner, 77u);
    EXPECT_EQ(parsed.prev, 5u);
    EXPECT_EQ(parsed.next, 9u);
    // Key bytes 7F 80 00 00 are common to all, and so is the row page 00 00 64.
    EXPECT_EQ(parsed.prefix_len, 4u);
    EXPECT_EQ(parsed.entries, plan.entries);
    // First entry whole (5 + 4), then 39 entries of 5 bytes each.
    EXPECT_EQ(parsed.free_space, layout_for(f).max_entry_bytes() - (9 + 39 * 5));
  }
}

TEST(IndexPageReader, IntermediateEntriesCarryChildPointers) {
  IndexPagePlan plan{false, 3, 0, 0, 4242, {}, std::nullopt};
  plan.entries.push_back({Bytes{0x7F, 0x01}, RowPointer{0x010203, 4}, 0x0A0B0C0D});
  plan.entries.push_back({Bytes{0x7F, 0x02}, RowPointer{7, 1}, 99});
  const IndexPage parsed = parse_index_page(build_index_page(plan, Format::Jet4), Format::Jet4, 1);
  EXPECT_FALSE(parsed.leaf);
  EXPECT_EQ(parsed.tail, 4242u);
  EXPECT_EQ(parsed.entries, plan.entries);
}

TEST(IndexPageReader, DamagedPagesRaise3049) {
  const Format f = Format::Jet4;
  const PageLayout& L = layout_for(f);
  const Bytes good = build_index_page({true, 1, 0, 0, 0, ascending_entries(10), std::nullopt}, f);

  Bytes bad_type = good;
  bad_type[0] = 0x01;
  EXPECT_EQ(error_number([&] { parse_index_page(bad_type, f, 2); }), 3049);

  Bytes bad_free = good;
  bad_free[L.free_space] = 0xFF;
  bad_free[L.free_space + 1] = 0xFF;
  EXPECT_EQ(error_number([&] { parse_index_page(bad_free, f, 2); }), 3049);

  Bytes stray_bit = good;  // an entry end far past the used area
  stray_bit[L.mask + 400] = 0x01;
  EXPECT_EQ(error_number([&] { parse_index_page(stray_bit, f, 2); }), 3049);

  Bytes swapped = good;  // last key byte of entries 2 and 3 exchanged: out of order
  const std::size_t e2 = L.entries_start() + 9 + 5 * 1, e3 = e2 + 5;
  std::swap(swapped[e2], swapped[e3]);
  EXPECT_EQ(error_number([&] { parse_index_page(swapped, f, 2); }), 3049);

  Bytes long_prefix = good;
  long_prefix[L.prefix_len] = 200;
  EXPECT_EQ(error_number([&] { parse_index_page(long_prefix, f, 2); }), 3049);

  EXPECT_EQ(error_number([&] { parse_index_page(Bytes(100, 4), f, 2); }), 3049);
}

TEST(IndexTreeReader, DetectsCyclesAndMissingPages) {
  const Format f = Format::Jet3;
  std::map<PageNumber, Bytes> pages;
  // Page 10 is an intermediate page whose tail points back at itself.
  pages[10] = build_index_page({false, 1, 0, 0, 10, {}, std::nullopt}, f);
  auto fetch = [&](PageNumber n) -> Bytes {
    auto it = pages.find(n);
    if (it == pages.end()) throw Error(errc::kCannotOpenDatabase, "no such page");
    return it->second;
  };
  EXPECT_EQ(error_number([&] { read_index_tree(fetch, 10, f); }), 3049);
  pages[10] = build_index_page({false, 1, 0, 0, 11, {}, std::nullopt}, f);  // child 11 missing
  EXPECT_EQ(error_number([&] { read_index_tree(fetch, 10, f); }), 3049);
  pages[11] = build_index_page({true, 1, 0, 0, 0, ascending_entries(3), std::nullopt}, f);
  const IndexTree t = read_index_tree(fetch, 10, f, 1);
  EXPECT_EQ(t.entries.size(), 3u);
  EXPECT_EQ(t.depth, 2);
  EXPECT_TRUE(t.notes.empty());
}

// Random damage to a small tree never crashes the reader or lets it loop:
// each attempt either reads or fails with 3049.
TEST(IndexTreeReader, RandomlyDamagedTreesFailCleanly) {
  for (Format f : {Format::Jet3, Format::Jet4}) {
    std::map<PageNumber, Bytes> pristine;
    std::vector<IndexEntry> entries;
    for (int i = 0; i < 600; ++i) {
      entries.push_back({Bytes{0x7F, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 0x01, 0x00},
                         RowPointer{static_cast<PageNumber>(300 + i / 50), static_cast<std::uint16_t>(i % 50)}, 0});
    }
    // Three leaves under one intermediate page.
    const std::size_t third = entries.size() / 3;
    std::vector<IndexEntry> a(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(third));
    std::vector<IndexEntry> b(entries.begin() + static_cast<std::ptrdiff_t>(third),
                              entries.begin() + static_cast<std::ptrdiff_t>(2 * third));
    std::vector<IndexEntry> c(entries.begin() + static_cast<std::ptrdiff_t>(2 * third), entries.end());
    pristine[11] = build_index_page({true, 1, 0, 12, 0, a, std::nullopt}, f);
    pristine[12] = build_index_page({true, 1, 11, 13, 0, b, std::nullopt}, f);
    pristine[13] = build_index_page({true, 1, 12, 0, 0, c, std::nullopt}, f);
    std::vector<IndexEntry> node{{a.back().key, a.back().row, 11}, {b.back().key, b.back().row, 12}};
    pristine[10] = build_index_page({false, 1, 0, 0, 13, node, std::nullopt}, f);
    ASSERT_EQ(read_index_tree([&](PageNumber n) { return pristine.at(n); }, 10, f).entries, entries);

    std::uint32_t seed = 12345;
    auto rnd = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8); };
    int failures = 0;
    for (int round = 0; round < 400; ++round) {
      auto pages = pristine;
      for (int k = 0; k < 1 + static_cast<int>(rnd() % 6); ++k) {
        Bytes& p = pages[static_cast<PageNumber>(10 + rnd() % 4)];
        // Bias damage towards the header and bitmap, where it matters most.
        const std::size_t at = rnd() % 2 == 0 ? rnd() % 64 : rnd() % p.size();
        p[at] = static_cast<std::uint8_t>(rnd());
      }
      auto fetch = [&](PageNumber n) {
        auto it = pages.find(n);
        if (it == pages.end()) throw Error(errc::kCannotOpenDatabase, "no such page");
        return it->second;
      };
      try {
        read_index_tree(fetch, 10, f);
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), 3049);
        ++failures;
      }
    }
    EXPECT_GT(failures, 100);
  }
}

// Every index page of every sample file parses, rebuilding it from its parsed
// entries gives the same bytes over the header, bitmap and used area, and
// every tree (pages no other page points at) walks cleanly.
TEST(IndexPageReader, SampleDatabasesParseAndRebuildByteForByte) {
  const auto files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
  std::size_t pages_seen = 0, trees_seen = 0, multi_level = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    const auto raw = load_raw(path);
    const PageLayout& L = layout_for(raw.format);
    std::map<PageNumber, IndexPage> parsed;
    std::set<PageNumber> children;
    for (PageNumber n = 1; n < raw.page_count(); ++n) {
      const Bytes bytes = raw.page(n);
      if (bytes[0] != kLeafPageType && bytes[0] != kIntermediatePageType) continue;
      IndexPage p = parse_index_page(bytes, raw.format, n);
      ++pages_seen;
      IndexPagePlan plan{p.leaf, p.owner, p.prev, p.next, p.tail, p.entries, p.prefix_len};
      const Bytes rebuilt = build_index_page(plan, raw.format);
      const std::size_t end = L.page_size - p.free_space;
      EXPECT_TRUE(std::equal(bytes.begin() + 2, bytes.begin() + static_cast<std::ptrdiff_t>(end), rebuilt.begin() + 2))
          << "page " << n;
      EXPECT_EQ(rebuilt[L.free_space], bytes[L.free_space]) << "page " << n;
      for (const auto& e : p.entries) children.insert(e.child);
      if (p.tail != 0) children.insert(p.tail);
      parsed.emplace(n, std::move(p));
    }
    for (const auto& [n, p] : parsed) {
      if (children.count(n) != 0) continue;
      const IndexTree t = read_index_tree(raw.fetcher(), n, raw.format, p.owner);
      ++trees_seen;
      if (t.depth > 1) ++multi_level;
      EXPECT_TRUE(t.notes.empty()) << "tree at " << n << ": " << t.notes.front();
    }
  }
  EXPECT_GT(pages_seen, 100u);
  EXPECT_GT(trees_seen, 50u);
  EXPECT_GE(multi_level, 3u);
}

}  // namespace
}  // namespace jet::index
