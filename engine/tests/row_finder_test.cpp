// Stored index entries name rows by their place in the source; the finder
// must give each row's scan position whether or not the scan met the
// places in ascending order, and nothing for a place no live row has.
#include "engine/write/row_finder.h"

#include <gtest/gtest.h>

namespace jet::write {
namespace {

void expect_finds_every_row(const std::vector<RowPointer>& places) {
  const RowFinder finder(places);
  for (std::size_t i = 0; i < places.size(); ++i) {
    const auto at = finder.find(places[i]);
    ASSERT_TRUE(at.has_value()) << i;
    EXPECT_EQ(*at, i);
  }
  EXPECT_FALSE(finder.find(RowPointer{7, 3}).has_value()) << "a deleted row's place";
  EXPECT_FALSE(finder.find(RowPointer{0, 0}).has_value());
  EXPECT_FALSE(finder.find(RowPointer{1000, 0}).has_value());
}

TEST(RowFinder, FindsRowsInAscendingAndInAnyOrder) {
  const std::vector<RowPointer> ascending = {{5, 0}, {5, 1}, {5, 4}, {7, 0}, {7, 2}, {9, 0}, {12, 7}};
  expect_finds_every_row(ascending);
  // A usage map that lists pages out of order gives places out of order.
  const std::vector<RowPointer> shuffled = {{9, 0}, {5, 1}, {12, 7}, {5, 0}, {7, 2}, {5, 4}, {7, 0}};
  expect_finds_every_row(shuffled);
  expect_finds_every_row({});
}

}  // namespace
}  // namespace jet::write
