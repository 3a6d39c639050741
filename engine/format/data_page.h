#pragma once
// Data pages (and long-value pages, which share the layout): a table of
// 2-byte row offsets after the header, rows packed from the end of the page
// towards it. Flags in the top bits of an offset mark deleted rows and rows
// moved elsewhere (the row then holds a 4-byte pointer to its new place).
#include <cstdint>
#include <span>

#include "engine/format/jet_format.h"

namespace jet {

inline constexpr std::uint16_t kRowDeletedFlag = 0x8000;
inline constexpr std::uint16_t kRowOverflowFlag = 0x4000;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;

struct RowSlot {
  std::uint16_t start = 0;  // first byte of the row on the page
  std::uint16_t end = 0;    // one past its last byte
  bool deleted = false;
  bool overflow = false;    // the row holds a pointer to where it now lives
};

// Number of row slots; damaged when the slot table would not fit.
std::uint16_t data_page_row_count(const JetFormat& format, std::span<const std::uint8_t> page);

// Throws DamagedData unless the page's rows are laid out as Access lays
// them: each row's offset (deleted rows' included) at or below the one
// before it, none inside the row table. Every long-value page of the
// sample files is so; one whose offsets were garbled is not, even where
// each row on its own would look possible.
void check_row_offsets_in_order(const JetFormat& format, std::span<const std::uint8_t> page);

// Bounds of slot `slot`: from its offset to the previous slot's offset (or
// the page end for slot 0). Damaged when the slot does not exist or a live
// row's bounds fall outside the row area; a deleted row with such bounds
// comes back empty. Rows moved to overflow pages are stored as deleted rows
// there, so their bounds are still valid.
RowSlot data_page_slot(const JetFormat& format, std::span<const std::uint8_t> page,
                       std::uint16_t slot);

// The table-definition page that owns a data page (LVAL pages hold the
// characters "LVAL" there instead).
std::uint32_t data_page_owner(const JetFormat& format, std::span<const std::uint8_t> page);

}  // namespace jet
