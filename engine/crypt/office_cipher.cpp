#include "engine/crypt/office_cipher.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <new>
#include <mutex>
#include <string>

#include "engine/error.h"
#include "engine/format/rc4.h"

namespace jet::crypt {
namespace {

// Block keys of the agile password key encryptor (what each derived key is for).
constexpr std::array<std::uint8_t, 8> kVerifierInputBlock{0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr std::array<std::uint8_t, 8> kVerifierValueBlock{0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr std::array<std::uint8_t, 8> kKeyValueBlock{0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};
constexpr std::uint32_t kStandardRounds = 50'000;
constexpr std::size_t kMaxPasswordChars = 255;
constexpr std::array<std::uint8_t, 4> kBlockZero{0, 0, 0, 0};

[[noreturn]] void wrong_password() { throw Error(errc::kNotAValidPassword, "Not a valid password."); }

// Office hashes the password as UTF-16LE, at most 255 characters of it.
Bytes password_bytes(std::u16string_view password) {
  Bytes out;
  for (char16_t c : password.substr(0, kMaxPasswordChars)) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

Bytes round_up_to_block(Bytes bytes, std::size_t block) {
  bytes.resize((bytes.size() + block - 1) / block * block, 0);
  return bytes;
}

// Each page's key (CryptoAPI kinds) or IV (agile) is hashed from its number,
// and a compaction reads many pages more than once (the copy, its index
// keys, the check of what it wrote): the ones made last are kept, by page
// number, in slots that threads share under a lock per group of slots.
// The slots cover a 512 MB file of 4 KB pages; their memory is taken from
// the system as zeros and only the slots in use are ever touched, so a
// small file costs a few pages of it.
class PageMaterialCache {
 public:
  template <typename Make>
  Bytes get(std::uint32_t page, Make make) const {
    std::mutex& mutex = mutexes_[page % kLocks];
    Slot& slot = slots_.get()[page % kSlots];
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (slot.page_plus_one == page + 1u) return Bytes(slot.bytes, slot.bytes + slot.size);
    }
    Bytes made = make();
    if (made.size() <= kMaxBytes) {
      std::lock_guard<std::mutex> lock(mutex);
      slot.page_plus_one = page + 1u;
      slot.size = static_cast<std::uint8_t>(made.size());
      std::copy(made.begin(), made.end(), slot.bytes);
    }
    return made;
  }

 private:
  static constexpr std::size_t kLocks = 64;
  static constexpr std::size_t kSlots = std::size_t{1} << 17;
  static constexpr std::size_t kMaxBytes = 32;
  // All zeros is an empty slot.
  struct Slot {
    std::uint32_t page_plus_one;
    std::uint8_t size;
    std::uint8_t bytes[kMaxBytes];
  };
  struct Free {
    void operator()(Slot* slots) const { std::free(slots); }
  };
  static std::unique_ptr<Slot, Free> zeroed_slots() {
    auto* slots = static_cast<Slot*>(std::calloc(kSlots, sizeof(Slot)));
    if (slots == nullptr) throw std::bad_alloc();
    return std::unique_ptr<Slot, Free>(slots);
  }
  mutable std::unique_ptr<std::mutex[]> mutexes_ = std::make_unique<std::mutex[]>(kLocks);
  mutable std::unique_ptr<Slot, Free> slots_ = zeroed_slots();
};

// --- RC4 CryptoAPI and standard AES ---------------------------------------

class CryptoApiKeys {
 public:
  CryptoApiKeys(const OfficeEncryption& info, std::u16string_view password)
      : kind_(info.kind), key_bytes_(info.api.key_bits / 8) {
    const Bytes pw = password_bytes(password);
    Bytes base = digest(HashKind::Sha1, {info.api.salt, pw});
    if (kind_ != OfficeKind::Rc4CryptoApi) {
      base = spin(HashKind::Sha1, std::move(base), kind_ == OfficeKind::StandardAes ? kStandardRounds : 0);
    }
    base_ = std::move(base);
  }

  Bytes key(std::span<const std::uint8_t> block) const {
    const Bytes hash = digest(HashKind::Sha1, {base_, block});
    if (kind_ == OfficeKind::Rc4CryptoApi) {
      Bytes key = fit(hash, key_bytes_, 0);
      // A 40-bit key is used as 128 bits with the rest zero.
      if (key_bytes_ == 5) key.resize(16, 0);
      return key;
    }
    // The CryptoAPI's key derivation: the hash under two pads, joined.
    std::array<std::uint8_t, 64> inner{};
    std::array<std::uint8_t, 64> outer{};
    inner.fill(0x36);
    outer.fill(0x5C);
    for (std::size_t i = 0; i < hash.size(); ++i) {
      inner[i] ^= hash[i];
      outer[i] ^= hash[i];
    }
    Bytes key = digest(HashKind::Sha1, {inner});
    const Bytes second = digest(HashKind::Sha1, {outer});
    key.insert(key.end(), second.begin(), second.end());
    return fit(std::move(key), key_bytes_, 0);
  }

  bool rc4() const { return kind_ == OfficeKind::Rc4CryptoApi; }

 private:
  OfficeKind kind_;
  std::size_t key_bytes_;
  Bytes base_;
};

class CryptoApiCipher : public PageCipher {
 public:
  CryptoApiCipher(CryptoApiKeys keys, std::uint32_t database_key) : keys_(std::move(keys)), database_key_(database_key) {}
  void decrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override { apply(page, data, n, Direction::Decrypt); }
  void encrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override { apply(page, data, n, Direction::Encrypt); }

 private:
  void apply(std::uint32_t page, std::uint8_t* data, std::size_t n, Direction direction) const {
    const Bytes key = keys_of_pages_.get(page, [&] {
      std::uint8_t block[4];
      page_block(database_key_, page, block);
      return keys_.key(block);
    });
    if (keys_.rc4()) {
      rc4_apply(key, data, n);
    } else {
      aes(direction, key, {}, data, n);
    }
  }
  CryptoApiKeys keys_;
  std::uint32_t database_key_;
  PageMaterialCache keys_of_pages_;
};

// The verifier and its SHA-1 hash, encrypted under the key of block 0:
// RC4 as one stream, AES block by block.
void crypt_verifier(const CryptoApiKeys& keys, Bytes& verifier, Bytes& hash, Direction direction) {
  const Bytes key = keys.key(kBlockZero);
  if (keys.rc4()) {
    Bytes joined = verifier;
    joined.insert(joined.end(), hash.begin(), hash.end());
    rc4_apply(key, joined.data(), joined.size());
    verifier.assign(joined.begin(), joined.begin() + static_cast<std::ptrdiff_t>(verifier.size()));
    hash.assign(joined.begin() + static_cast<std::ptrdiff_t>(verifier.size()), joined.end());
  } else {
    aes(direction, key, {}, verifier.data(), verifier.size());
    aes(direction, key, {}, hash.data(), hash.size());
  }
}

std::shared_ptr<const PageCipher> unlock_crypto_api(const OfficeEncryption& info, std::u16string_view password,
                                                    std::uint32_t database_key) {
  CryptoApiKeys keys(info, password);
  Bytes verifier = info.api.encrypted_verifier;
  Bytes hash = info.api.encrypted_verifier_hash;
  crypt_verifier(keys, verifier, hash, Direction::Decrypt);
  const Bytes expected = digest(HashKind::Sha1, {verifier});
  if (!std::equal(expected.begin(), expected.end(), hash.begin(), hash.end() - static_cast<std::ptrdiff_t>(hash.size() - expected.size()))) {
    wrong_password();
  }
  return std::make_shared<CryptoApiCipher>(std::move(keys), database_key);
}

Sealed reseal_crypto_api(const OfficeEncryption& info, std::u16string_view password, std::uint32_t database_key) {
  Sealed out{info, nullptr};
  out.info.api.salt = random_bytes(16);
  CryptoApiKeys keys(out.info, password);
  Bytes verifier = random_bytes(16);
  Bytes hash = fit(digest(HashKind::Sha1, {verifier}), info.api.encrypted_verifier_hash.size(), 0);
  crypt_verifier(keys, verifier, hash, Direction::Encrypt);
  out.info.api.encrypted_verifier = std::move(verifier);
  out.info.api.encrypted_verifier_hash = std::move(hash);
  out.cipher = std::make_shared<CryptoApiCipher>(std::move(keys), database_key);
  return out;
}

// --- Agile ----------------------------------------------------------------

class AgileCipher : public PageCipher {
 public:
  AgileCipher(AgileKey data, Bytes key, std::uint32_t database_key)
      : data_(std::move(data)), key_(std::move(key)), database_key_(database_key) {}
  void decrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override {
    aes(Direction::Decrypt, key_, iv(page), data, n);
  }
  void encrypt(std::uint32_t page, std::uint8_t* data, std::size_t n) const override {
    aes(Direction::Encrypt, key_, iv(page), data, n);
  }

 private:
  Bytes iv(std::uint32_t page) const {
    return ivs_.get(page, [&] {
      std::uint8_t block[4];
      page_block(database_key_, page, block);
      return fit(digest(data_.hash, {data_.salt, block}), data_.block_size, 0x36);
    });
  }
  AgileKey data_;
  Bytes key_;
  std::uint32_t database_key_;
  PageMaterialCache ivs_;
};

// The keys the password gives the password key encryptor, one per block key.
class AgilePasswordKeys {
 public:
  AgilePasswordKeys(const AgileInfo& info, std::u16string_view password) : info_(info) {
    const Bytes pw = password_bytes(password);
    spun_ = spin(info.password.hash, digest(info.password.hash, {info.password.salt, pw}), info.spin_count);
  }
  // Decrypts or encrypts `value` under the key for `block`.
  Bytes crypt(std::span<const std::uint8_t> block, Bytes value, Direction direction) const {
    const Bytes key = fit(digest(info_.password.hash, {spun_, block}), info_.password.key_bits / 8, 0x36);
    const Bytes iv = fit(info_.password.salt, info_.password.block_size, 0x36);
    aes(direction, key, iv, value.data(), value.size());
    return value;
  }

 private:
  const AgileInfo& info_;
  Bytes spun_;
};

std::shared_ptr<const PageCipher> unlock_agile(const AgileInfo& info, std::u16string_view password,
                                               std::uint32_t database_key) {
  const AgilePasswordKeys keys(info, password);
  const Bytes input = keys.crypt(kVerifierInputBlock, info.encrypted_verifier_input, Direction::Decrypt);
  const Bytes value = keys.crypt(kVerifierValueBlock, info.encrypted_verifier_value, Direction::Decrypt);
  const std::span<const std::uint8_t> verifier(input.data(), std::min<std::size_t>(input.size(), info.password.salt_size));
  const Bytes expected = digest(info.password.hash, {verifier});
  if (value.size() < expected.size() || !std::equal(expected.begin(), expected.end(), value.begin())) wrong_password();
  Bytes key = keys.crypt(kKeyValueBlock, info.encrypted_key_value, Direction::Decrypt);
  key.resize(info.data.key_bits / 8);
  return std::make_shared<AgileCipher>(info.data, std::move(key), database_key);
}

Sealed reseal_agile(const OfficeEncryption& info, std::u16string_view password, std::uint32_t database_key) {
  Sealed out{info, nullptr};
  AgileInfo& agile = out.info.agile;
  agile.data.salt = random_bytes(agile.data.salt_size);
  agile.password.salt = random_bytes(agile.password.salt_size);
  const Bytes key = random_bytes(agile.data.key_bits / 8);
  const Bytes verifier = random_bytes(agile.password.salt_size);
  const std::size_t block = agile.password.block_size;
  const AgilePasswordKeys keys(agile, password);
  agile.encrypted_verifier_input = keys.crypt(kVerifierInputBlock, round_up_to_block(verifier, block), Direction::Encrypt);
  agile.encrypted_verifier_value =
      keys.crypt(kVerifierValueBlock, round_up_to_block(digest(agile.password.hash, {verifier}), block), Direction::Encrypt);
  agile.encrypted_key_value = keys.crypt(kKeyValueBlock, round_up_to_block(key, block), Direction::Encrypt);
  out.cipher = std::make_shared<AgileCipher>(agile.data, key, database_key);
  return out;
}

}  // namespace

std::shared_ptr<const PageCipher> unlock(const OfficeEncryption& info, std::u16string_view password,
                                         std::uint32_t database_key) {
  if (info.kind == OfficeKind::Agile) return unlock_agile(info.agile, password, database_key);
  return unlock_crypto_api(info, password, database_key);
}

Sealed reseal(const OfficeEncryption& info, std::u16string_view password, std::uint32_t database_key) {
  if (info.kind == OfficeKind::Agile) return reseal_agile(info, password, database_key);
  return reseal_crypto_api(info, password, database_key);
}

Sealed new_office_encryption(OfficeKind kind, std::u16string_view password, std::uint32_t database_key) {
  return reseal(default_office_encryption(kind), password, database_key);
}

}  // namespace jet::crypt
