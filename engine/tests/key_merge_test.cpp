// Merging sorted runs set aside on a scratch file with the list still in
// memory must give every entry once, in the order one big sort would; and
// feeding a table's indexes through a helper thread must give the same
// sequence as feeding them inline.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "engine/error.h"
#include "engine/file/memory_env.h"
#include "engine/write/index_feed.h"
#include "engine/write/key_list.h"
#include "engine/write/key_spill.h"

namespace jet::write {
namespace {

using Entry = std::pair<Bytes, std::uint64_t>;

// Keys of 0 to 299 bytes over a small alphabet, so that many share
// prefixes and some repeat (their tags then decide).
std::vector<Entry> random_entries(std::size_t n, std::uint32_t seed, std::uint64_t first_tag) {
  std::mt19937 random(seed);
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < n; ++i) {
    Bytes key(random() % 300);
    for (auto& b : key) b = static_cast<std::uint8_t>(random() % 3);
    if (random() % 4 == 0) key.resize(key.size() % 3);
    entries.emplace_back(std::move(key), first_tag + i);
  }
  return entries;
}

KeyList list_of(const std::vector<Entry>& entries) {
  KeyList list;
  for (const auto& [key, tag] : entries) list.add(key, tag);
  list.sort();
  return list;
}

std::vector<Entry> sorted_union(const std::vector<std::vector<Entry>>& parts) {
  KeyList all;
  for (const auto& part : parts) {
    for (const auto& [key, tag] : part) all.add(key, tag);
  }
  all.sort();
  std::vector<Entry> out;
  for (std::size_t i = 0; i < all.size(); ++i) out.emplace_back(Bytes(all.key(i).begin(), all.key(i).end()), all.tag(i));
  return out;
}

TEST(KeyMerge, GivesEveryEntryOfRunsAndListInSortOrder) {
  MemoryEnv env;
  KeySpill spill(env, "/scratch.keys");
  // Runs large enough that entries straddle the cursor's read buffer, and
  // one run of a single entry.
  const std::vector<std::vector<Entry>> parts = {random_entries(3000, 1, 0), random_entries(2500, 2, 10000),
                                                 random_entries(1, 3, 20000), random_entries(700, 4, 30000)};
  std::vector<KeySpill::Run> runs;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) runs.push_back(spill.write_run(list_of(parts[i])));
  const KeyList in_memory = list_of(parts.back());

  std::vector<Entry> merged;
  KeyMerge merge = spill.merged(runs, in_memory);
  while (merge.next()) merged.emplace_back(Bytes(merge.key().begin(), merge.key().end()), merge.tag());
  EXPECT_FALSE(merge.next());
  EXPECT_EQ(merged, sorted_union(parts));

  // Runs alone, and a list alone.
  std::vector<Entry> runs_only;
  spill.merge(runs, KeyList{}, [&](std::span<const std::uint8_t> key, std::uint64_t tag) {
    runs_only.emplace_back(Bytes(key.begin(), key.end()), tag);
  });
  EXPECT_EQ(runs_only, sorted_union({parts[0], parts[1], parts[2]}));
  KeyMerge list_only(nullptr, {}, in_memory);
  std::size_t n = 0;
  while (list_only.next()) ++n;
  EXPECT_EQ(n, parts.back().size());
}

TEST(KeyMerge, ARunCutShortOnFileIsAnError) {
  MemoryEnv env;
  KeySpill spill(env, "/scratch.keys");
  KeySpill::Run run = spill.write_run(list_of(random_entries(50, 5, 0)));
  run.bytes -= 3;  // the last entry's key is cut
  const KeyList none;
  KeyMerge merge = spill.merged({run}, none);
  const auto drain = [&] {
    while (merge.next()) {
    }
  };
  EXPECT_THROW(drain(), Error);
}

// Index 0 spilled to runs, index 1 empty, index 2 only in memory.
std::vector<std::tuple<std::size_t, Bytes, std::uint64_t>> feed(bool threaded) {
  MemoryEnv env;
  KeySpill spill(env, "/scratch.keys");
  std::vector<KeyList> lists(3);
  std::vector<std::vector<KeySpill::Run>> runs(3);
  runs[0].push_back(spill.write_run(list_of(random_entries(5000, 6, 0))));
  runs[0].push_back(spill.write_run(list_of(random_entries(5000, 7, 5000))));
  for (const auto& [key, tag] : random_entries(900, 8, 10000)) lists[0].add(key, tag);
  for (const auto& [key, tag] : random_entries(6000, 9, 0)) lists[2].add(key, tag);
  std::vector<IndexKeySource> sources;
  for (std::size_t i = 0; i < 3; ++i) sources.push_back({&lists[i], &runs[i]});

  std::vector<std::tuple<std::size_t, Bytes, std::uint64_t>> seen;
  feed_index_entries(&spill, sources, threaded, [&](std::size_t index, std::span<const std::uint8_t> key, std::uint64_t tag) {
    seen.emplace_back(index, Bytes(key.begin(), key.end()), tag);
  });
  for (const KeyList& list : lists) EXPECT_EQ(list.footprint(), 0u) << "a merged list keeps its memory";
  return seen;
}

TEST(IndexFeed, HelperThreadGivesTheSameEntriesAsInline) {
  const auto inline_entries = feed(false);
  ASSERT_EQ(inline_entries.size(), 5000u + 5000u + 900u + 6000u);
  for (std::size_t i = 1; i < inline_entries.size(); ++i) {
    const auto& [a_index, a_key, a_tag] = inline_entries[i - 1];
    const auto& [b_index, b_key, b_tag] = inline_entries[i];
    ASSERT_TRUE(a_index < b_index || (a_index == b_index && KeyList::less(a_key, a_tag, b_key, b_tag))) << i;
  }
  EXPECT_EQ(feed(true), inline_entries);
}

TEST(IndexFeed, AFailureWhileLayingOutStopsTheMerging) {
  KeyList list;
  for (const auto& [key, tag] : random_entries(20000, 10, 0)) list.add(key, tag);
  const std::vector<KeySpill::Run> no_runs;
  const std::vector<IndexKeySource> sources = {{&list, &no_runs}};
  std::size_t taken = 0;
  EXPECT_THROW(feed_index_entries(nullptr, sources, true,
                                  [&](std::size_t, std::span<const std::uint8_t>, std::uint64_t) {
                                    if (++taken == 5000) throw Error(errc::kCannotOpenDatabase, "disk full");
                                  }),
               Error);
  EXPECT_EQ(taken, 5000u);
}

}  // namespace
}  // namespace jet::write
