#include "engine/format/rc4.h"

#include <array>
#include <utility>

namespace jet {

void rc4_apply(std::span<const std::uint8_t> key, std::uint8_t* data, std::size_t n) {
  if (key.empty()) return;
  std::array<std::uint8_t, 256> s{};
  for (std::size_t i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    j = static_cast<std::uint8_t>(j + s[i] + key[i % key.size()]);
    std::swap(s[i], s[j]);
  }
  std::uint8_t a = 0;
  std::uint8_t b = 0;
  for (std::size_t k = 0; k < n; ++k) {
    a = static_cast<std::uint8_t>(a + 1);
    b = static_cast<std::uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    data[k] ^= s[static_cast<std::uint8_t>(s[a] + s[b])];
  }
}

void rc4_apply_page(std::uint32_t database_key, std::uint32_t page, std::uint8_t* data,
                    std::size_t n) {
  std::uint32_t k = database_key ^ page;
  const std::array<std::uint8_t, 4> key{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                                        static_cast<std::uint8_t>(k >> 16),
                                        static_cast<std::uint8_t>(k >> 24)};
  rc4_apply(key, data, n);
}

}  // namespace jet
