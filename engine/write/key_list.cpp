#include "engine/write/key_list.h"

#include <algorithm>
#include <cstring>

namespace jet::write {

void KeyList::add(std::span<const std::uint8_t> key, std::uint64_t tag) {
  entries_.push_back(Entry{bytes_.size(), tag, static_cast<std::uint32_t>(key.size())});
  bytes_.insert(bytes_.end(), key.begin(), key.end());
}

void KeyList::sort() {
  const std::uint8_t* base = bytes_.data();
  std::sort(entries_.begin(), entries_.end(), [base](const Entry& a, const Entry& b) {
    const std::uint32_t common = std::min(a.length, b.length);
    const int c = common == 0 ? 0 : std::memcmp(base + a.offset, base + b.offset, common);
    if (c != 0) return c < 0;
    if (a.length != b.length) return a.length < b.length;
    return a.tag < b.tag;
  });
}

}  // namespace jet::write
