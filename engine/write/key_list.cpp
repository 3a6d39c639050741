#include "engine/write/key_list.h"

#include <algorithm>
#include <cstring>

namespace jet::write {

namespace {
std::uint64_t prefix_of(std::span<const std::uint8_t> key) {
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i) prefix = (prefix << 8) | (i < key.size() ? key[i] : 0);
  return prefix;
}
}  // namespace

void KeyList::add(std::span<const std::uint8_t> key, std::uint64_t tag) {
  entries_.push_back(Entry{prefix_of(key), bytes_.size(), tag, static_cast<std::uint32_t>(key.size())});
  bytes_.insert(bytes_.end(), key.begin(), key.end());
}

bool KeyList::add_within(std::span<const std::uint8_t> key, std::uint64_t tag, std::size_t limit) {
  // Grow the way the vectors would (doubling), but decide first whether the
  // grown buffers still fit.
  std::size_t entry_room = entries_.capacity();
  if (entries_.size() == entry_room) entry_room = std::max<std::size_t>(2 * entry_room, 64);
  std::size_t byte_room = bytes_.capacity();
  if (bytes_.size() + key.size() > byte_room) byte_room = std::max(2 * byte_room, bytes_.size() + key.size());
  if (!entries_.empty() && entry_room * sizeof(Entry) + byte_room > limit) return false;
  entries_.reserve(entry_room);
  bytes_.reserve(byte_room);
  add(key, tag);
  return true;
}

bool KeyList::less(std::span<const std::uint8_t> a, std::uint64_t a_tag, std::span<const std::uint8_t> b,
                   std::uint64_t b_tag) {
  const std::size_t common = std::min(a.size(), b.size());
  const int c = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (c != 0) return c < 0;
  if (a.size() != b.size()) return a.size() < b.size();
  return a_tag < b_tag;
}

void KeyList::sort() {
  const std::uint8_t* base = bytes_.data();
  const auto before = [base](const Entry& a, const Entry& b) {
    // Different padded prefixes differ in a byte both keys have, or in a
    // byte only one has against the other's zero padding: either way the
    // prefixes order the keys as the full comparison would.
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return less({base + a.offset, a.length}, a.tag, {base + b.offset, b.length}, b.tag);
  };
  // Rows often arrive in key order already (a primary key, rows written in
  // that order); checking costs one pass, sorting several.
  if (std::is_sorted(entries_.begin(), entries_.end(), before)) return;
  std::sort(entries_.begin(), entries_.end(), before);
}

}  // namespace jet::write
