#pragma once
// RC4 stream cipher: masks the header page and, in encrypted databases,
// every other page (key derived per page). Applying it twice restores the
// input.
#include <cstddef>
#include <cstdint>
#include <span>

namespace jet {

void rc4_apply(std::span<const std::uint8_t> key, std::uint8_t* data, std::size_t n);

// Key of page `page` in a database whose header holds `database_key`: the
// four key bytes XOR the page number, little-endian.
void rc4_apply_page(std::uint32_t database_key, std::uint32_t page, std::uint8_t* data,
                    std::size_t n);

}  // namespace jet
