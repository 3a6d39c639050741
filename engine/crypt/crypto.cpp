#include "engine/crypt/crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <memory>

#include "engine/error.h"

namespace jet::crypt {
namespace {

[[noreturn]] void crypto_failure(const char* what) {
  throw Error(errc::kCannotOpenDatabase, std::string("The cryptographic library failed: ") + what + ".");
}

const EVP_MD* md_of(HashKind kind) {
  switch (kind) {
    case HashKind::Sha1: return EVP_sha1();
    case HashKind::Sha256: return EVP_sha256();
    case HashKind::Sha384: return EVP_sha384();
    case HashKind::Sha512: return EVP_sha512();
  }
  crypto_failure("unknown hash");
}

struct MdContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

MdContext new_md_context() {
  MdContext ctx(EVP_MD_CTX_new());
  if (!ctx) crypto_failure("no memory for a hash");
  return ctx;
}

}  // namespace

std::optional<HashKind> hash_kind_named(std::string_view name) {
  if (name == "SHA1" || name == "SHA-1") return HashKind::Sha1;
  if (name == "SHA256") return HashKind::Sha256;
  if (name == "SHA384") return HashKind::Sha384;
  if (name == "SHA512") return HashKind::Sha512;
  return std::nullopt;
}

std::string_view hash_name(HashKind kind) {
  switch (kind) {
    case HashKind::Sha1: return "SHA1";
    case HashKind::Sha256: return "SHA256";
    case HashKind::Sha384: return "SHA384";
    case HashKind::Sha512: return "SHA512";
  }
  return "?";
}

std::size_t digest_size(HashKind kind) { return static_cast<std::size_t>(EVP_MD_get_size(md_of(kind))); }

Bytes digest(HashKind kind, std::initializer_list<std::span<const std::uint8_t>> parts) {
  MdContext ctx = new_md_context();
  if (EVP_DigestInit_ex(ctx.get(), md_of(kind), nullptr) != 1) crypto_failure("hash start");
  for (std::span<const std::uint8_t> part : parts) {
    if (EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1) crypto_failure("hash update");
  }
  Bytes out(digest_size(kind));
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.data(), &size) != 1) crypto_failure("hash end");
  out.resize(size);
  return out;
}

Bytes spin(HashKind kind, Bytes hash, std::uint32_t count) {
  MdContext ctx = new_md_context();
  const EVP_MD* md = md_of(kind);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t round[4] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                   static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 24)};
    unsigned int size = 0;
    if (EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 || EVP_DigestUpdate(ctx.get(), round, 4) != 1 ||
        EVP_DigestUpdate(ctx.get(), hash.data(), hash.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), hash.data(), &size) != 1) {
      crypto_failure("hash");
    }
  }
  return hash;
}

Bytes fit(Bytes bytes, std::size_t size, std::uint8_t pad) {
  bytes.resize(size, pad);
  return bytes;
}

void aes(Direction direction, std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
         std::uint8_t* data, std::size_t n) {
  const bool cbc = !iv.empty();
  const EVP_CIPHER* cipher = nullptr;
  switch (key.size()) {
    case 16: cipher = cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb(); break;
    case 24: cipher = cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb(); break;
    case 32: cipher = cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb(); break;
    default: crypto_failure("AES key of an unusual size");
  }
  if (n % 16 != 0 || (cbc && iv.size() != 16)) crypto_failure("AES on a partial block");
  if (n == 0) return;
  CipherContext ctx(EVP_CIPHER_CTX_new());
  if (!ctx) crypto_failure("no memory for a cipher");
  const int encrypt = direction == Direction::Encrypt ? 1 : 0;
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), cbc ? iv.data() : nullptr, encrypt) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
    crypto_failure("AES start");
  }
  // Whole pages at a time, below the int the interface counts in.
  std::size_t done = 0;
  while (done < n) {
    const int chunk = static_cast<int>(std::min<std::size_t>(n - done, std::size_t{1} << 30));
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), data + done, &written, data + done, chunk) != 1 || written != chunk) {
      crypto_failure("AES");
    }
    done += static_cast<std::size_t>(chunk);
  }
}

Bytes random_bytes(std::size_t n) {
  Bytes out(n);
  if (n != 0 && RAND_bytes(out.data(), static_cast<int>(n)) != 1) crypto_failure("no random bytes");
  return out;
}

std::optional<Bytes> base64_decode(std::string_view text) {
  if (text.size() % 4 != 0 || text.size() > (std::size_t{1} << 20)) return std::nullopt;
  Bytes out(text.size() / 4 * 3);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock keeps the bytes the padding stands for.
  std::size_t size = static_cast<std::size_t>(n);
  if (!text.empty() && text.back() == '=') --size;
  if (text.size() >= 2 && text[text.size() - 2] == '=') --size;
  out.resize(size);
  return out;
}

std::string base64_encode(std::span<const std::uint8_t> bytes) {
  std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace jet::crypt
