#pragma once
// Little-endian stores and loads on byte vectors, bounds-checked by the caller.
#include <cstdint>
#include <vector>

namespace jet::write {

inline void put_u16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t get_u16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}

inline std::uint32_t get_u32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A row's address as stored in usage-map and long-value references:
// page number in the upper three bytes, row number in the lowest.
inline std::uint32_t row_reference(std::uint32_t page, std::uint32_t row) { return (page << 8) | (row & 0xFF); }

}  // namespace jet::write
