#include "engine/crypt/office_cipher.h"

#include <algorithm>
#include <array>
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
    std::uint8_t block[4];
    page_block(database_key_, page, block);
    const Bytes key = keys_.key(block);
    if (keys_.rc4()) {
      rc4_apply(key, data, n);
    } else {
      aes(direction, key, {}, data, n);
    }
  }
  CryptoApiKeys keys_;
  std::uint32_t database_key_;
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
    std::uint8_t block[4];
    page_block(database_key_, page, block);
    return fit(digest(data_.hash, {data_.salt, block}), data_.block_size, 0x36);
  }
  AgileKey data_;
  Bytes key_;
  std::uint32_t database_key_;
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

// --- Defaults for new files -----------------------------------------------

void append_u32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

CryptoApiInfo crypto_api_defaults(std::uint32_t flags, std::uint32_t algorithm, std::uint32_t key_bits,
                                  std::uint32_t provider, std::u16string_view provider_name, std::size_t hash_size) {
  CryptoApiInfo api;
  api.flags = flags;
  api.algorithm_id = algorithm;
  api.hash_algorithm_id = 0x8004;
  api.key_bits = key_bits;
  api.provider_type = provider;
  for (std::uint32_t v : {flags, 0u, algorithm, 0x8004u, key_bits, provider, 0u, 0u}) append_u32(api.header, v);
  for (char16_t c : provider_name) {
    api.header.push_back(static_cast<std::uint8_t>(c));
    api.header.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  api.header.push_back(0);
  api.header.push_back(0);
  api.salt.assign(16, 0);
  api.encrypted_verifier.assign(16, 0);
  api.verifier_hash_size = 20;
  api.encrypted_verifier_hash.assign(hash_size, 0);
  return api;
}

AgileInfo agile_defaults() {
  AgileKey key;
  key.salt_size = 16;
  key.block_size = 16;
  key.key_bits = 256;
  key.hash_size = 64;
  key.cipher = "AES";
  key.chaining = "ChainingModeCBC";
  key.hash = HashKind::Sha512;
  key.salt.assign(16, 0);
  AgileInfo agile;
  agile.data = key;
  agile.password = key;
  agile.spin_count = 100'000;
  // Placeholders of the right lengths; resealing puts the real values in.
  const std::string salt = base64_encode(Bytes(16, 0));
  const std::string two_blocks = base64_encode(Bytes(32, 0));
  const std::string params =
      "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\" "
      "cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\" saltValue=\"" + salt + "\"";
  agile.descriptor =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
      "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
      "<keyData " + params + "/><keyEncryptors><keyEncryptor "
      "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\"><p:encryptedKey spinCount=\"100000\" " +
      params + " encryptedVerifierHashInput=\"" + salt + "\" encryptedVerifierHashValue=\"" +
      base64_encode(Bytes(64, 0)) + "\" encryptedKeyValue=\"" + two_blocks +
      "\"/></keyEncryptor></keyEncryptors></encryption>";
  return agile;
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
  OfficeEncryption info;
  info.kind = kind;
  info.major = 4;
  info.minor = kind == OfficeKind::Agile ? 4 : 2;
  switch (kind) {
    case OfficeKind::Rc4CryptoApi:
      info.api = crypto_api_defaults(0x0C, 0x6801, 128, 1, u"Microsoft Enhanced Cryptographic Provider v1.0", 20);
      break;
    case OfficeKind::StandardAes:
      info.api = crypto_api_defaults(0x24, 0x660E, 128, 0x18, u"Microsoft Enhanced RSA and AES Cryptographic Provider", 32);
      break;
    case OfficeKind::AesWithoutSpin:
      info.api = crypto_api_defaults(0x0C, 0x6610, 256, 0x18, u"Microsoft Enhanced RSA and AES Cryptographic Provider", 32);
      break;
    case OfficeKind::Agile:
      info.agile = agile_defaults();
      break;
  }
  return reseal(info, password, database_key);
}

}  // namespace jet::crypt
