#pragma once
// Where things sit on an index page (type 0x03 intermediate, 0x04 leaf) for
// each file format. INDEX_FORMAT.md beside this file explains each field.
#include <cstddef>
#include <cstdint>

namespace jet::index {

enum class Format : std::uint8_t { Jet3, Jet4 };

inline constexpr std::uint8_t kIntermediatePageType = 0x03;
inline constexpr std::uint8_t kLeafPageType = 0x04;

struct PageLayout {
  std::size_t page_size;
  std::size_t free_space;      // u16 LE: bytes left unused after the entries
  std::size_t owner;           // u32 LE: table-definition page of the owning table
  std::size_t prev;            // u32 LE: previous page on the same level (0 = none)
  std::size_t next;            // u32 LE: next page on the same level (0 = none)
  std::size_t tail;            // u32 LE: intermediate pages: rightmost child, which has no entry
  std::size_t prefix_len;      // shared prefix length (1 byte in Jet 3, u16 LE in Jet 4)
  std::size_t prefix_len_size;
  std::size_t node_flag;       // 1 on intermediate pages, 0 on leaves
  std::size_t mask;            // entry-end bitmap, one bit per byte of entry data
  std::size_t mask_size;

  constexpr std::size_t entries_start() const { return mask + mask_size; }
  // Entry data may not run past the page nor past what the bitmap can mark.
  constexpr std::size_t max_entry_bytes() const {
    const std::size_t room = page_size - entries_start();
    const std::size_t markable = mask_size * 8;
    return room < markable ? room : markable;
  }
};

inline constexpr PageLayout kJet3Layout{2048, 2, 4, 8, 12, 16, 20, 1, 21, 22, 226};
inline constexpr PageLayout kJet4Layout{4096, 2, 4, 12, 16, 20, 24, 2, 26, 27, 453};

constexpr const PageLayout& layout_for(Format f) { return f == Format::Jet3 ? kJet3Layout : kJet4Layout; }

// Row pointer and child pointer sizes inside an entry (both big-endian).
inline constexpr std::size_t kRowPointerSize = 4;  // 3-byte page + 1-byte row
inline constexpr std::size_t kChildPointerSize = 4;

}  // namespace jet::index
