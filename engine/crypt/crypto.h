#pragma once
// The cryptographic building blocks Office encryption is made of, all from
// OpenSSL's libcrypto: hashes, AES without padding, random bytes, base64.
// Nothing here knows about databases.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/model/value.h"

namespace jet::crypt {

enum class HashKind { Sha1, Sha256, Sha384, Sha512 };

// The kind an encryption descriptor names ("SHA1", "SHA512", ...), if known.
std::optional<HashKind> hash_kind_named(std::string_view name);
std::string_view hash_name(HashKind kind);
std::size_t digest_size(HashKind kind);

// The hash of the parts one after the other.
Bytes digest(HashKind kind, std::initializer_list<std::span<const std::uint8_t>> parts);

// `count` rounds of H(round number, little-endian 32 bits || previous hash),
// starting from `hash`: the password "spin" of Office key derivation.
Bytes spin(HashKind kind, Bytes hash, std::uint32_t count);

// `bytes` cut or padded with `pad` to `size`.
Bytes fit(Bytes bytes, std::size_t size, std::uint8_t pad);

enum class Direction { Encrypt, Decrypt };

// AES over `n` bytes in place (n a multiple of 16): CBC with `iv` when it is
// given, ECB when it is empty. Key of 16, 24 or 32 bytes.
void aes(Direction direction, std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
         std::uint8_t* data, std::size_t n);

// Bytes from the operating system's random source (through libcrypto).
Bytes random_bytes(std::size_t n);

// Standard base64; nullopt when `text` is not base64.
std::optional<Bytes> base64_decode(std::string_view text);
std::string base64_encode(std::span<const std::uint8_t> bytes);

}  // namespace jet::crypt
