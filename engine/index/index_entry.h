#pragma once
// One entry of an index B-tree: the encoded key and the row it points at.
// Intermediate entries also name the child page whose last entry they repeat.
#include <compare>
#include <cstdint>

#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet::index {

struct IndexEntry {
  Bytes key;
  RowPointer row;
  PageNumber child = 0;  // intermediate pages only

  bool operator==(const IndexEntry&) const = default;
};

// Entries sort by key bytes (unsigned, a shorter key before its extensions),
// then by row pointer. Equal keys are legal: non-unique indexes repeat them.
std::strong_ordering compare_keys(const Bytes& a, const Bytes& b);
std::strong_ordering compare_entries(const IndexEntry& a, const IndexEntry& b);

}  // namespace jet::index
