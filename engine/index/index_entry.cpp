#include "engine/index/index_entry.h"

#include <algorithm>

namespace jet::index {

std::strong_ordering compare_keys(const Bytes& a, const Bytes& b) {
  return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
}

std::strong_ordering compare_entries(const IndexEntry& a, const IndexEntry& b) {
  if (auto c = compare_keys(a.key, b.key); c != 0) return c;
  return a.row <=> b.row;
}

}  // namespace jet::index
