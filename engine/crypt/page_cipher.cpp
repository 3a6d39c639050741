#include "engine/crypt/page_cipher.h"

#include "engine/format/rc4.h"

namespace jet::crypt {
namespace {

class JetRc4Cipher : public PageCipher {
 public:
  explicit JetRc4Cipher(std::uint32_t key) : key_(key) {}
  void decrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override {
    rc4_apply_page(key_, page, data, n);
  }
  void encrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override {
    rc4_apply_page(key_, page, data, n);
  }

 private:
  std::uint32_t key_;
};

}  // namespace

std::shared_ptr<const PageCipher> jet_rc4_cipher(std::uint32_t database_key) {
  return std::make_shared<JetRc4Cipher>(database_key);
}

}  // namespace jet::crypt
