#pragma once
// How the pages after the header are stored: in the clear, under Jet's RC4
// (key from the header's database key), or under Office encryption (key from
// the password). The page cache decrypts through it as pages come in and
// the page sink encrypts through it as they go out, so everything between
// sees plain pages. A cipher is immutable: handles on other threads share it.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace jet::crypt {

class PageCipher {
 public:
  virtual ~PageCipher() = default;
  // In place, `n` bytes of page `page` (never 0: the header is not
  // encrypted this way). `n` is a whole page.
  virtual void decrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const = 0;
  virtual void encrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const = 0;
};

// Jet's page encryption: RC4 keyed by the database key XOR the page number.
std::shared_ptr<const PageCipher> jet_rc4_cipher(std::uint32_t database_key);

// The per-page block Office encryption mixes into each page's key or IV:
// the header's database key XOR the page number, little-endian.
inline void page_block(std::uint32_t database_key, std::uint32_t page, std::uint8_t out[4]) {
  const std::uint32_t k = database_key ^ page;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(k >> (8 * i));
}

}  // namespace jet::crypt
