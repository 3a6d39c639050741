#pragma once
// Bounds-checked little-endian access to page bytes. Any read outside the
// given bytes throws DamagedData, which the database turns into the
// damaged-file error (3049) with the file's path.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace jet {

class DamagedData : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void damaged(const std::string& what) { throw DamagedData(what); }

inline void check_range(std::span<const std::uint8_t> b, std::size_t offset, std::size_t n) {
  if (offset > b.size() || n > b.size() - offset) {
    damaged("reference past the end of a structure (offset " + std::to_string(offset) + ", " +
            std::to_string(n) + " bytes of " + std::to_string(b.size()) + ")");
  }
}

inline std::uint8_t get_u8(std::span<const std::uint8_t> b, std::size_t off) {
  check_range(b, off, 1);
  return b[off];
}
inline std::uint16_t get_u16(std::span<const std::uint8_t> b, std::size_t off) {
  check_range(b, off, 2);
  return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}
inline std::uint32_t get_u24(std::span<const std::uint8_t> b, std::size_t off) {
  check_range(b, off, 3);
  return std::uint32_t{b[off]} | (std::uint32_t{b[off + 1]} << 8) |
         (std::uint32_t{b[off + 2]} << 16);
}
inline std::uint32_t get_u32(std::span<const std::uint8_t> b, std::size_t off) {
  check_range(b, off, 4);
  return std::uint32_t{b[off]} | (std::uint32_t{b[off + 1]} << 8) |
         (std::uint32_t{b[off + 2]} << 16) | (std::uint32_t{b[off + 3]} << 24);
}
inline std::uint64_t get_u64(std::span<const std::uint8_t> b, std::size_t off) {
  return std::uint64_t{get_u32(b, off)} | (std::uint64_t{get_u32(b, off + 4)} << 32);
}
inline std::span<const std::uint8_t> get_bytes(std::span<const std::uint8_t> b, std::size_t off,
                                               std::size_t n) {
  check_range(b, off, n);
  return b.subspan(off, n);
}

inline void put_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace jet
