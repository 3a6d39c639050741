#pragma once
// Finding a row's position in a table's scan by its place in the source,
// for index entries that name rows by place (stored entries carried over).
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/model/schema.h"

namespace jet::write {

// Finds a row's position in scan order by its place in the source. Scans
// meet rows in page order, so the places mostly ascend and are searched as
// they are; otherwise a list of positions sorted by place (4 bytes a row)
// is searched instead.
class RowFinder {
 public:
  explicit RowFinder(const std::vector<RowPointer>& places) : places_(places) {
    if (std::is_sorted(places.begin(), places.end())) return;
    by_place_.resize(places.size());
    for (std::size_t i = 0; i < places.size(); ++i) by_place_[i] = static_cast<std::uint32_t>(i);
    std::sort(by_place_.begin(), by_place_.end(), [&](std::uint32_t a, std::uint32_t b) { return places[a] < places[b]; });
  }

  std::optional<std::uint32_t> find(RowPointer place) const {
    if (by_place_.empty()) {
      const auto it = std::lower_bound(places_.begin(), places_.end(), place);
      if (it == places_.end() || *it != place) return std::nullopt;
      return static_cast<std::uint32_t>(it - places_.begin());
    }
    const auto it = std::lower_bound(by_place_.begin(), by_place_.end(), place,
                                     [&](std::uint32_t a, RowPointer p) { return places_[a] < p; });
    if (it == by_place_.end() || places_[*it] != place) return std::nullopt;
    return *it;
  }

 private:
  const std::vector<RowPointer>& places_;
  std::vector<std::uint32_t> by_place_;  // empty when places_ ascends
};

}  // namespace jet::write
