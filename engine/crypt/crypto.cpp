#include "engine/crypt/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <tuple>

#include "engine/error.h"

namespace jet::crypt {
namespace {

[[noreturn]] void crypto_failure(const char* what) {
  throw Error(errc::kCannotOpenDatabase, std::string("The cryptographic library failed: ") + what + ".");
}

struct MdContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

// Algorithms are looked up once: OpenSSL 3 otherwise looks each one up again,
// under a lock, on every use, which costs more than hashing or encrypting a
// page. They live as long as the program.
const EVP_MD* fetched_md(const char* name) {
  const EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (md == nullptr) crypto_failure("no such hash");
  return md;
}

const EVP_CIPHER* fetched_cipher(const char* name) {
  const EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
  if (cipher == nullptr) crypto_failure("no such cipher");
  return cipher;
}

const EVP_MD* md_of(HashKind kind) {
  static const EVP_MD* const sha1 = fetched_md("SHA1");
  static const EVP_MD* const sha256 = fetched_md("SHA256");
  static const EVP_MD* const sha384 = fetched_md("SHA384");
  static const EVP_MD* const sha512 = fetched_md("SHA512");
  switch (kind) {
    case HashKind::Sha1: return sha1;
    case HashKind::Sha256: return sha256;
    case HashKind::Sha384: return sha384;
    case HashKind::Sha512: return sha512;
  }
  crypto_failure("unknown hash");
}

const EVP_CIPHER* aes_of(std::size_t key_size, bool cbc) {
  static const EVP_CIPHER* const ciphers[2][3] = {
      {fetched_cipher("AES-128-ECB"), fetched_cipher("AES-192-ECB"), fetched_cipher("AES-256-ECB")},
      {fetched_cipher("AES-128-CBC"), fetched_cipher("AES-192-CBC"), fetched_cipher("AES-256-CBC")}};
  switch (key_size) {
    case 16: return ciphers[cbc][0];
    case 24: return ciphers[cbc][1];
    case 32: return ciphers[cbc][2];
    default: crypto_failure("AES key of an unusual size");
  }
}

// One context of each kind per thread, set up again for every use.
EVP_MD_CTX* md_context() {
  thread_local MdContext ctx(EVP_MD_CTX_new());
  if (!ctx) crypto_failure("no memory for a hash");
  return ctx.get();
}

// The cipher context remembers its algorithm, direction and key: set up
// again with the same ones, only the IV changes, which spares the context's
// reset and the key's expansion on every page.
struct CipherSlot {
  CipherContext ctx{EVP_CIPHER_CTX_new()};
  const EVP_CIPHER* cipher = nullptr;
  int encrypt = -1;
  std::array<std::uint8_t, 32> key{};
  std::size_t key_size = 0;  // 0: no key kept
  CipherSlot() = default;
  CipherSlot(const CipherSlot&) = delete;
  CipherSlot& operator=(const CipherSlot&) = delete;
  ~CipherSlot() { OPENSSL_cleanse(key.data(), key.size()); }
};

EVP_CIPHER_CTX* cipher_context(const EVP_CIPHER* cipher, int encrypt, std::span<const std::uint8_t> key,
                               const std::uint8_t* iv) {
  thread_local CipherSlot slot;
  if (!slot.ctx) crypto_failure("no memory for a cipher");
  const bool same = slot.cipher == cipher && slot.encrypt == encrypt;
  const bool same_key = same && slot.key_size == key.size() && key.size() <= slot.key.size() &&
                        std::equal(key.begin(), key.end(), slot.key.begin());
  if (EVP_CipherInit_ex2(slot.ctx.get(), same ? nullptr : cipher, same_key ? nullptr : key.data(), iv, encrypt,
                         nullptr) != 1) {
    slot.cipher = nullptr;
    slot.key_size = 0;
    crypto_failure("AES start");
  }
  if (!same) {
    if (EVP_CIPHER_CTX_set_padding(slot.ctx.get(), 0) != 1) crypto_failure("AES start");
    slot.cipher = cipher;
    slot.encrypt = encrypt;
  }
  if (!same_key) {
    slot.key_size = key.size() <= slot.key.size() ? key.size() : 0;
    std::copy_n(key.begin(), slot.key_size, slot.key.begin());
  }
  return slot.ctx.get();
}

// The password rounds of the last few keys derived: a copy's key is derived
// when it is sealed and again when the copy is opened for its closing check,
// and each derivation costs as much as reading thousands of pages.
class SpinMemo {
 public:
  std::optional<Bytes> find(HashKind kind, const Bytes& start, std::uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : entries_) {
      if (e.kind == kind && e.count == count && e.start == start && !e.result.empty()) return e.result;
    }
    return std::nullopt;
  }
  void add(HashKind kind, const Bytes& start, std::uint32_t count, const Bytes& result) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[next_] = Entry{kind, count, start, result};
    next_ = (next_ + 1) % entries_.size();
  }

 private:
  struct Entry {
    HashKind kind = HashKind::Sha1;
    std::uint32_t count = 0;
    Bytes start;
    Bytes result;
  };
  std::mutex mutex_;
  std::array<Entry, 4> entries_;
  std::size_t next_ = 0;
};

SpinMemo& spin_memo() {
  static SpinMemo memo;
  return memo;
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
  EVP_MD_CTX* ctx = md_context();
  if (EVP_DigestInit_ex2(ctx, md_of(kind), nullptr) != 1) crypto_failure("hash start");
  for (std::span<const std::uint8_t> part : parts) {
    if (EVP_DigestUpdate(ctx, part.data(), part.size()) != 1) crypto_failure("hash update");
  }
  Bytes out(digest_size(kind));
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx, out.data(), &size) != 1) crypto_failure("hash end");
  out.resize(size);
  return out;
}

Bytes spin(HashKind kind, Bytes hash, std::uint32_t count) {
  if (auto known = spin_memo().find(kind, hash, count)) return *known;
  const Bytes start = hash;
  EVP_MD_CTX* ctx = md_context();
  const EVP_MD* md = md_of(kind);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t round[4] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                   static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 24)};
    unsigned int size = 0;
    if (EVP_DigestInit_ex2(ctx, md, nullptr) != 1 || EVP_DigestUpdate(ctx, round, 4) != 1 ||
        EVP_DigestUpdate(ctx, hash.data(), hash.size()) != 1 || EVP_DigestFinal_ex(ctx, hash.data(), &size) != 1) {
      crypto_failure("hash");
    }
  }
  spin_memo().add(kind, start, count, hash);
  return hash;
}

Bytes fit(Bytes bytes, std::size_t size, std::uint8_t pad) {
  bytes.resize(size, pad);
  return bytes;
}

void aes(Direction direction, std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
         std::uint8_t* data, std::size_t n) {
  const bool cbc = !iv.empty();
  const EVP_CIPHER* cipher = aes_of(key.size(), cbc);
  if (n % 16 != 0 || (cbc && iv.size() != 16)) crypto_failure("AES on a partial block");
  if (n == 0) return;
  const int encrypt = direction == Direction::Encrypt ? 1 : 0;
  EVP_CIPHER_CTX* ctx = cipher_context(cipher, encrypt, key, cbc ? iv.data() : nullptr);
  // Whole pages at a time, below the int the interface counts in.
  std::size_t done = 0;
  while (done < n) {
    const int chunk = static_cast<int>(std::min<std::size_t>(n - done, std::size_t{1} << 30));
    int written = 0;
    if (EVP_CipherUpdate(ctx, data + done, &written, data + done, chunk) != 1 || written != chunk) {
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
