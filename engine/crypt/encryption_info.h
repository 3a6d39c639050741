#pragma once
// The encryption header an encrypted ACE database keeps in its header page
// (an Office "EncryptionInfo" stream, stored in the clear at 0x299 after a
// 16-bit length): which kind of Office encryption the pages are under and
// the salts and encrypted verifier that check a password. Read and written
// here; what the fields mean for keys is office_cipher's job.
#include <cstdint>
#include <span>
#include <string>

#include "engine/crypt/crypto.h"
#include "engine/model/value.h"

namespace jet::crypt {

inline constexpr std::size_t kEncryptionInfoOffset = 0x299;

enum class OfficeKind {
  Rc4CryptoApi,    // version 2-4.2, RC4 with SHA-1 (Access 2007)
  StandardAes,     // version 2-4.2 with the AES flag: AES-ECB, 50 000 SHA-1 rounds
  AesWithoutSpin,  // version 2-4.2, an AES algorithm id without the AES flag: no rounds
  Agile,           // version 4.4: XML descriptor, AES-CBC, SHA-512 by default (Access 2010 on)
};

// Versions 2.2 to 4.2: a binary EncryptionHeader and EncryptionVerifier.
struct CryptoApiInfo {
  std::uint32_t flags = 0;
  Bytes header;  // the EncryptionHeader as stored, kept byte for byte
  std::uint32_t algorithm_id = 0;
  std::uint32_t hash_algorithm_id = 0;
  std::uint32_t key_bits = 0;  // after the provider's default for 0
  std::uint32_t provider_type = 0;
  Bytes salt;                // 16 bytes
  Bytes encrypted_verifier;  // 16 bytes
  std::uint32_t verifier_hash_size = 0;
  Bytes encrypted_verifier_hash;  // 20 bytes under RC4, 32 under AES
};

// One set of agile parameters: the <keyData> element (the pages) or the
// password key encryptor.
struct AgileKey {
  std::uint32_t salt_size = 0;
  std::uint32_t block_size = 0;
  std::uint32_t key_bits = 0;
  std::uint32_t hash_size = 0;
  std::string cipher;    // "AES"
  std::string chaining;  // "ChainingModeCBC"
  HashKind hash = HashKind::Sha1;
  Bytes salt;
};

struct AgileInfo {
  std::string descriptor;  // the XML as stored; written back with new values spliced in
  AgileKey data;
  AgileKey password;
  std::uint32_t spin_count = 0;
  Bytes encrypted_verifier_input;
  Bytes encrypted_verifier_value;
  Bytes encrypted_key_value;
};

struct OfficeEncryption {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  OfficeKind kind = OfficeKind::Agile;
  CryptoApiInfo api;  // all kinds but Agile
  AgileInfo agile;    // Agile

  // "agile (AES-256 CBC, SHA512, 100000 rounds)" and the like, for `info`.
  std::string describe() const;
};

// Reads the encryption header of an encrypted ACE header page. Damage
// throws DamagedData; a kind this engine does not decrypt (extensible
// encryption, certificates, an unknown version or cipher) throws
// Error 3251 naming it.
OfficeEncryption read_office_encryption(std::span<const std::uint8_t> header_page);

// The encryption header Access writes for `kind` by default, salts and
// verifier still zero: a template for crypt::reseal.
OfficeEncryption default_office_encryption(OfficeKind kind);

// Puts `info` into a header page (unmasked or stored: the region is clear).
void write_office_encryption(const OfficeEncryption& info, Bytes& header_page);

// Whether `header_page` holds exactly the encryption header that `info`
// writes, byte for byte.
bool holds_office_encryption(std::span<const std::uint8_t> header_page, const OfficeEncryption& info);

}  // namespace jet::crypt
