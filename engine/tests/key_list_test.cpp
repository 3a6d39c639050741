// Keys kept in one buffer must sort exactly as index entries do: unsigned
// bytes, a key before its own extensions, equal keys by their tag.
#include "engine/write/key_list.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace jet::write
