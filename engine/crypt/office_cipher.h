#pragma once
// Office encryption of an ACE database's pages: the key a password gives,
// checked against the verifier the encryption header holds, and the
// encryption header of a copy (same kind and parameters, fresh salts).
//
//  - RC4 CryptoAPI: page key SHA-1(SHA-1(salt, password), block) cut to the
//    key size; the whole page is one RC4 stream.
//  - Standard AES: SHA-1(salt, password) through 50 000 rounds (none in the
//    variant without the AES flag), then SHA-1 with the block, widened by
//    the CryptoAPI's key derivation; the page is AES in ECB.
//  - Agile: one random key for the whole file, stored encrypted under a key
//    from the password; each page is AES-CBC with an IV hashed from the
//    file's salt and the block.
// The block is the header's database key XOR the page number (page_block).
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/crypt/encryption_info.h"
#include "engine/crypt/page_cipher.h"

namespace jet::crypt {

// The page cipher for `password`; a password the verifier refuses throws
// Error 3031 before any page is read.
std::shared_ptr<const PageCipher> unlock(const OfficeEncryption& info, std::u16string_view password,
                                         std::uint32_t database_key);

struct Sealed {
  OfficeEncryption info;
  std::shared_ptr<const PageCipher> cipher;
};

// The encryption of a copy: `info`'s kind and parameters, new random salts
// (and for agile a new file key), a verifier for `password`.
Sealed reseal(const OfficeEncryption& info, std::u16string_view password, std::uint32_t database_key);

// An encryption header as Access writes one of `kind` by default, for
// `password`: for files that get encrypted here (tests, builders).
Sealed new_office_encryption(OfficeKind kind, std::u16string_view password, std::uint32_t database_key);

}  // namespace jet::crypt
