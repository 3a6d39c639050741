// Fresh B-tree layout: what the builder writes must read back as the same
// entries, with every page as full as the format allows.
#include "engine/index/index_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/index/index_page_builder.h"
#include "engine/index/index_page_reader.h"
#include "engine/index/index_tree_reader.h"
#include "engine/index/tests/corpus_files.h"

namespace jet::index {
namespace {

struct MemoryPages {
  std::map<PageNumber, Bytes> pages;
  PageNumber next_free = 50;
  PageAllocator allocator() {
    return [this] { return next_free++; };
  }
  PageFetcher fetcher() const {
    return [this](PageNumber n) {
      auto it = pages.find(n);
      if (it == pages.end()) throw Error(errc::kCannotOpenDatabase, "page not written");
      return it->second;
    };
  }
  void store(const BuiltIndex& built) {
    for (const auto& p : built.pages) {
      ASSERT_TRUE(pages.emplace(p.number, p.bytes).second) << "page " << p.number << " handed out twice";
    }
  }
};

// Text-like keys of varying length that share long prefixes, as real text
// indexes do, plus a run of duplicates (non-unique index).
std::vector<IndexEntry> make_entries(int n) {
  std::vector<IndexEntry> v;
  for (int i = 0; i < n; ++i) {
    Bytes key{0x7F};
    const int dup = i / 3;  // every key three times
    for (char c : "customer-") key.push_back(static_cast<std::uint8_t>(c));
    key.push_back(static_cast<std::uint8_t>(0x40 + (dup / 676) % 26));
    key.push_back(static_cast<std::uint8_t>(0x40 + (dup / 26) % 26));
    key.push_back(static_cast<std::uint8_t>(0x40 + dup % 26));
    for (int k = 0; k < dup % 7; ++k) key.push_back(0x55);
    key.push_back(0x01);
    key.push_back(0x00);
    v.push_back({key, RowPointer{static_cast<PageNumber>(1000 + i / 40), static_cast<std::uint16_t>(i % 40)}, 0});
  }
  std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return compare_entries(a, b) < 0; });
  return v;
}

TEST(IndexBuilder, LargeTreesReadBackDenseAndLinked) {
  for (Format f : {Format::Jet3, Format::Jet4}) {
    SCOPED_TRACE(f == Format::Jet3 ? "Jet3" : "Jet4");
    const auto entries = make_entries(40000);
    MemoryPages mem;
    const BuiltIndex built = build_index_tree(entries, f, 7, mem.allocator());
    mem.store(built);
    EXPECT_EQ(built.pages.back().number, built.root);
    EXPECT_EQ(built.entries, 40000u);
    EXPECT_EQ(built.distinct_keys, 13334u);  // every key is used three times
    EXPECT_GE(built.depth, f == Format::Jet3 ? 3 : 2);

    const IndexTree tree = read_index_tree(mem.fetcher(), built.root, f, 7);
    EXPECT_EQ(tree.entries, entries);
    EXPECT_EQ(tree.depth, built.depth);
    EXPECT_TRUE(tree.notes.empty()) << tree.notes.front();
    EXPECT_EQ(tree.pages.size(), built.pages.size());

    // Dense: no page could have taken the first entry of the page after it.
    const std::size_t room = layout_for(f).max_entry_bytes();
    for (std::size_t i = 0; i + 1 < tree.leaves.size(); ++i) {
      auto here = parse_index_page(mem.pages[tree.leaves[i]], f, tree.leaves[i]).entries;
      const auto after = parse_index_page(mem.pages[tree.leaves[i + 1]], f, tree.leaves[i + 1]).entries;
      here.push_back(after.front());
      EXPECT_GT(packed_size(here, true, shared_prefix_length(here, f)), room) << "leaf " << tree.leaves[i];
    }
  }
}

// The writer hands each leaf over before the next leaves are built, so a
// large index never sits in memory whole; what it writes reads back as the
// entries given.
TEST(IndexBuilder, WriterHandsLeavesOverAsTheyFill) {
  const auto entries = make_entries(20000);
  MemoryPages mem;
  std::size_t handed_over_early = 0;
  IndexTreeWriter writer(Format::Jet4, 7, mem.allocator(), [&](BuiltPage p) {
    ASSERT_TRUE(mem.pages.emplace(p.number, std::move(p.bytes)).second) << "page " << p.number << " written twice";
  });
  for (std::size_t i = 0; i < entries.size(); ++i) {
    writer.add(entries[i]);
    if (i == entries.size() / 2) handed_over_early = mem.pages.size();
  }
  const BuiltIndex built = writer.finish();
  EXPECT_GT(handed_over_early, 10u);
  EXPECT_TRUE(built.pages.empty());
  EXPECT_EQ(built.entries, entries.size());
  const IndexTree tree = read_index_tree(mem.fetcher(), built.root, Format::Jet4, 7);
  EXPECT_EQ(tree.entries, entries);
  EXPECT_TRUE(tree.notes.empty());

  IndexTreeWriter unordered(Format::Jet4, 7, mem.allocator(), [](BuiltPage) {});
  unordered.add(entries[5]);
  EXPECT_THROW(unordered.add(entries[4]), Error);
}

// Entries must come strictly in order: key bytes unsigned, a key before its
// extensions, equal keys by row; the same entry twice is out of order too.
TEST(IndexBuilder, StreamingWriterTakesOnlyStrictlyIncreasingEntries) {
  const auto entry = [](Bytes key, std::uint16_t row) { return IndexEntry{std::move(key), RowPointer{9, row}, 0}; };
  const std::vector<std::pair<IndexEntry, IndexEntry>> in_order = {
      {entry({0x7F, 0x01}, 5), entry({0x7F, 0x02}, 1)}, {entry({0x7F}, 5), entry({0x7F, 0x00}, 1)},
      {entry({0x7F, 0x80}, 1), entry({0x7F, 0x80}, 2)}, {entry({0x10}, 1), entry({0xF0}, 1)}};
  for (const auto& [first, second] : in_order) {
    MemoryPages mem;
    IndexTreeWriter forward(Format::Jet4, 7, mem.allocator(), [](BuiltPage) {});
    forward.add(first);
    EXPECT_NO_THROW(forward.add(second));
    EXPECT_EQ(forward.finish().distinct_keys, first.key == second.key ? 1u : 2u);

    IndexTreeWriter backward(Format::Jet4, 7, mem.allocator(), [](BuiltPage) {});
    backward.add(second);
    EXPECT_THROW(backward.add(first), Error);
    IndexTreeWriter twice(Format::Jet4, 7, mem.allocator(), [](BuiltPage) {});
    twice.add(first);
    EXPECT_THROW(twice.add(first), Error);
  }
}

TEST(IndexBuilder, SmallAndEmptyIndexesUseOneLeaf) {
  MemoryPages mem;
  const BuiltIndex empty = build_index_tree({}, Format::Jet4, 3, mem.allocator());
  ASSERT_EQ(empty.pages.size(), 1u);
  const IndexPage page = parse_index_page(empty.pages[0].bytes, Format::Jet4, empty.root);
  EXPECT_TRUE(page.leaf);
  EXPECT_TRUE(page.entries.empty());
  EXPECT_EQ(page.free_space, 3616);  // the whole entry area, as Access leaves an empty index

  const auto few = make_entries(10);
  const BuiltIndex small = build_index_tree(few, Format::Jet3, 3, mem.allocator());
  EXPECT_EQ(small.depth, 1);
  EXPECT_EQ(parse_index_page(small.pages[0].bytes, Format::Jet3, small.root).entries, few);
}

TEST(IndexBuilder, RejectsUnorderedDuplicateAndOversizedEntries) {
  MemoryPages mem;
  auto entries = make_entries(5);
  std::swap(entries[1], entries[3]);
  EXPECT_THROW(build_index_tree(entries, Format::Jet4, 1, mem.allocator()), Error);
  entries = make_entries(5);
  entries[2] = entries[1];  // same key and same row twice
  EXPECT_THROW(build_index_tree(entries, Format::Jet4, 1, mem.allocator()), Error);
  std::vector<IndexEntry> huge{{Bytes(1900, 0x41), RowPointer{1, 1}, 0}};
  EXPECT_THROW(build_index_tree(huge, Format::Jet3, 1, mem.allocator()), Error);
  EXPECT_NO_THROW(build_index_tree(huge, Format::Jet4, 1, mem.allocator()));
}

// Every index tree in the sample files, rebuilt from its entries, reads back
// the same entries in the same order, and never needs more leaves than the
// original.
TEST(IndexBuilder, SampleIndexesRebuildToTheSameEntries) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
  std::size_t rebuilt = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    const auto raw = testing::load_raw(path);
    std::set<PageNumber> children, roots;
    for (PageNumber n = 1; n < raw.page_count(); ++n) {
      const Bytes bytes = raw.page(n);
      if (bytes[0] != kLeafPageType && bytes[0] != kIntermediatePageType) continue;
      const IndexPage p = parse_index_page(bytes, raw.format, n);
      for (const auto& e : p.entries) children.insert(e.child);
      if (p.tail != 0) children.insert(p.tail);
      roots.insert(n);
    }
    for (PageNumber root : roots) {
      if (children.count(root) != 0) continue;
      const IndexTree original = read_index_tree(raw.fetcher(), root, raw.format);
      MemoryPages mem;
      const BuiltIndex built = build_index_tree(original.entries, raw.format, 9, mem.allocator());
      mem.store(built);
      const IndexTree again = read_index_tree(mem.fetcher(), built.root, raw.format, 9);
      EXPECT_EQ(again.entries, original.entries) << "tree at " << root;
      EXPECT_LE(again.leaves.size(), original.leaves.size()) << "tree at " << root;
      ++rebuilt;
    }
  }
  EXPECT_GT(rebuilt, 50u);
}

}  // namespace
}  // namespace jet::index
