#include "engine/format/data_page.h"

#include <string>

#include "engine/format/damaged.h"

namespace jet {

std::uint16_t data_page_row_count(const JetFormat& f, std::span<const std::uint8_t> page) {
  std::uint16_t count = get_u16(page, f.data_row_count_offset);
  if (f.data_row_table_offset + std::size_t{count} * 2 > page.size()) {
    damaged("data page row table overruns the page (" + std::to_string(count) + " rows)");
  }
  return count;
}

void check_row_offsets_in_order(const JetFormat& f, std::span<const std::uint8_t> page) {
  const std::uint16_t count = data_page_row_count(f, page);
  const std::size_t table_end = f.data_row_table_offset + std::size_t{count} * 2;
  std::size_t previous = page.size();
  for (std::uint16_t r = 0; r < count; ++r) {
    const std::size_t offset = get_u16(page, f.data_row_table_offset + std::size_t{r} * 2) & kRowOffsetMask;
    if (offset > previous || offset < table_end) {
      damaged("the row offsets of the page are out of order (row " + std::to_string(r) + " at " +
              std::to_string(offset) + ")");
    }
    previous = offset;
  }
}

RowSlot data_page_slot(const JetFormat& f, std::span<const std::uint8_t> page, std::uint16_t slot) {
  std::uint16_t count = data_page_row_count(f, page);
  if (slot >= count) damaged("row " + std::to_string(slot) + " does not exist on its page");
  std::uint16_t raw = get_u16(page, f.data_row_table_offset + std::size_t{slot} * 2);
  RowSlot s;
  s.deleted = (raw & kRowDeletedFlag) != 0;
  s.overflow = !s.deleted && (raw & kRowOverflowFlag) != 0;
  s.start = raw & kRowOffsetMask;
  if (slot == 0) {
    s.end = static_cast<std::uint16_t>(page.size());
  } else {
    s.end = get_u16(page, f.data_row_table_offset + (std::size_t{slot} - 1) * 2) & kRowOffsetMask;
  }
  std::size_t table_end = f.data_row_table_offset + std::size_t{count} * 2;
  if (s.start < table_end || s.start > s.end || s.end > page.size()) {
    // A deleted row's space may since have been reused; it simply has no data.
    if (s.deleted) {
      s.start = s.end = 0;
      return s;
    }
    damaged("row " + std::to_string(slot) + " has bounds outside its page (" +
            std::to_string(s.start) + ".." + std::to_string(s.end) + ")");
  }
  return s;
}

std::uint32_t data_page_owner(const JetFormat& f, std::span<const std::uint8_t> page) {
  return get_u32(page, f.page_owner_offset);
}

}  // namespace jet
