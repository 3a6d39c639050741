#pragma once
// Index keys for many rows, held in one flat buffer. A table can have
// millions of rows; a separately allocated buffer per key would cost several
// times the key bytes, and compaction keeps one list per index until the
// table's rows are written.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet::write {

class KeyList {
 public:
  // `tag` orders equal keys (a row's new place, or its position in a scan).
  void add(std::span<const std::uint8_t> key, std::uint64_t tag);
  // Adds the entry unless the buffers would have to grow past `limit` bytes
  // in all; then nothing is added and the caller sets the list aside. An
  // empty list always takes its first key.
  bool add_within(std::span<const std::uint8_t> key, std::uint64_t tag, std::size_t limit);
  // Room for this many entries, so a large table's list grows once.
  void reserve(std::size_t entries) { entries_.reserve(entries); }
  // Drops the entries but keeps the buffers for the next ones.
  void clear() {
    entries_.clear();
    bytes_.clear();
  }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // Orders entries by key bytes (unsigned, a prefix before its extensions),
  // equal keys by tag.
  void sort();

  std::span<const std::uint8_t> key(std::size_t i) const {
    const Entry& e = entries_[i];
    return {bytes_.data() + e.offset, e.length};
  }
  std::uint64_t tag(std::size_t i) const { return entries_[i].tag; }

  // Bytes the list's buffers hold, room reserved ahead included.
  std::size_t footprint() const { return bytes_.capacity() + entries_.capacity() * sizeof(Entry); }

  // The order sort() gives: key bytes, a key before its extensions, then tag.
  static bool less(std::span<const std::uint8_t> a, std::uint64_t a_tag, std::span<const std::uint8_t> b,
                   std::uint64_t b_tag);

 private:
  struct Entry {
    std::uint64_t prefix;  // the first 8 key bytes, big-endian, zero-padded: settles most comparisons
    std::uint64_t offset;
    std::uint64_t tag;
    std::uint32_t length;
  };
  Bytes bytes_;
  std::vector<Entry> entries_;
};

// A row place packed into a tag that sorts the way row places do.
inline std::uint64_t place_tag(RowPointer p) { return (std::uint64_t{p.page} << 16) | p.row; }
inline RowPointer place_of_tag(std::uint64_t tag) {
  return RowPointer{static_cast<PageNumber>(tag >> 16), static_cast<std::uint16_t>(tag & 0xFFFF)};
}

}  // namespace jet::write
