// Keys kept in one buffer must sort exactly as index entries do: unsigned
// bytes, a key before its own extensions, equal keys by their tag.
#include "engine/write/key_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace jet::write {
namespace {

Bytes key_at(const KeyList& list, std::size_t i) {
  const auto k = list.key(i);
  return Bytes(k.begin(), k.end());
}

TEST(KeyList, SortsLikeIndexEntries) {
  KeyList list;
  list.add(Bytes{0x80, 0x01}, 1);
  list.add(Bytes{0x7F}, 7);
  list.add(Bytes{0x7F, 0x00}, 3);
  list.add(Bytes{}, 9);
  list.add(Bytes{0x80, 0x01}, 0);
  list.add(Bytes{0xFF}, 2);
  list.sort();
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(key_at(list, 0), Bytes{});
  EXPECT_EQ(key_at(list, 1), (Bytes{0x7F}));
  EXPECT_EQ(key_at(list, 2), (Bytes{0x7F, 0x00}));
  EXPECT_EQ(list.tag(3), 0u);  // equal keys: lower tag first
  EXPECT_EQ(list.tag(4), 1u);
  EXPECT_EQ(key_at(list, 5), (Bytes{0xFF}));  // unsigned: 0xFF after 0x80
}

TEST(KeyList, PlaceTagsSortAsRowPlaces) {
  const RowPointer a{5, 0xFFFF}, b{6, 0}, c{0xFFFFFF, 3};
  EXPECT_LT(place_tag(a), place_tag(b));
  EXPECT_LT(place_tag(b), place_tag(c));
  EXPECT_EQ(place_of_tag(place_tag(c)), c);
}

// Sorting compares 8-byte prefixes first; a large list must still come out
// in the order the full comparison gives, whatever the keys share: a
// constant first byte, whole prefixes (keys that differ only past their
// eighth byte), trailing zero bytes against shorter keys, equal keys.
TEST(KeyList, LargeListsSortAsTheFullComparisonDoes) {
  std::mt19937 random(7);
  KeyList list;
  std::vector<std::pair<Bytes, std::uint64_t>> reference;
  for (std::uint64_t tag = 0; tag < 20000; ++tag) {
    Bytes key{0x7F};
    const std::size_t length = random() % 14;
    for (std::size_t i = 0; i < length; ++i) key.push_back(static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random() % 5));
    list.add(key, 20000 - tag);
    reference.emplace_back(key, 20000 - tag);
  }
  list.sort();
  std::sort(reference.begin(), reference.end(),
            [](const auto& a, const auto& b) { return KeyList::less(a.first, a.second, b.first, b.second); });
  ASSERT_EQ(list.size(), reference.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    ASSERT_EQ(key_at(list, i), reference[i].first) << i;
    ASSERT_EQ(list.tag(i), reference[i].second) << i;
  }
}

// A bounded list refuses the key that would make it grow past its limit,
// never holds more than the limit, always takes a first key however long,
// and keeps its buffers when cleared so refilling does not grow again.
TEST(KeyList, StaysWithinItsLimit) {
  const std::size_t limit = 4096;
  KeyList list;
  const Bytes key(10, 0x41);
  std::size_t added = 0;
  while (list.add_within(key, added, limit)) {
    ++added;
    ASSERT_LE(list.footprint(), limit);
  }
  EXPECT_GT(added, 50u);
  EXPECT_EQ(list.size(), added);

  const std::size_t held = list.footprint();
  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.footprint(), held);
  for (std::size_t i = 0; i < added; ++i) ASSERT_TRUE(list.add_within(key, i, limit));
  EXPECT_EQ(list.footprint(), held);

  KeyList first;
  EXPECT_TRUE(first.add_within(Bytes(limit * 2, 0x42), 0, limit));
  EXPECT_FALSE(first.add_within(key, 1, limit));
}

}  // namespace
}  // namespace jet::write
