#include "engine/crypt/encryption_info.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "engine/crypt/xml_attributes.h"
#include "engine/error.h"
#include "engine/format/damaged.h"

namespace jet::crypt {
namespace {

// EncryptionHeader flags.
constexpr std::uint32_t kFlagCryptoApi = 0x04;
constexpr std::uint32_t kFlagDocProps = 0x08;  // set in the files Access 2007-2010 encrypted
constexpr std::uint32_t kFlagExternal = 0x10;
constexpr std::uint32_t kFlagAes = 0x20;
// Algorithm ids of the CryptoAPI.
constexpr std::uint32_t kAlgRc4 = 0x6801;
constexpr std::uint32_t kAlgAes128 = 0x660E;
constexpr std::uint32_t kAlgAes192 = 0x660F;
constexpr std::uint32_t kAlgAes256 = 0x6610;
constexpr std::uint32_t kAlgSha1 = 0x8004;
constexpr std::uint32_t kAgileReserved = 0x40;
constexpr std::uint32_t kSaltSize = 16;
constexpr std::string_view kPasswordEncryptor = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";
// Office itself allows at most ten million rounds; more is damage, and would
// keep the open busy for minutes.
constexpr std::uint32_t kMaxSpinCount = 10'000'000;

[[noreturn]] void unsupported(const std::string& what) {
  throw Error(errc::kNotBuiltYet, "The database is encrypted with " + what +
                                      ", which this engine cannot decrypt.");
}

std::string hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", v);
  return text;
}

std::string version_text(std::uint16_t major, std::uint16_t minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

void put_u16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void append_u32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes slice(std::span<const std::uint8_t> b, std::size_t at, std::size_t n) {
  check_range(b, at, n);
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

std::uint32_t aes_bits(std::uint32_t algorithm_id) {
  switch (algorithm_id) {
    case kAlgAes128: return 128;
    case kAlgAes192: return 192;
    case kAlgAes256: return 256;
    default: return 0;
  }
}

// The provider name ends the header, UTF-16 up to a NUL.
bool names_base_provider(std::span<const std::uint8_t> name) {
  std::string ascii;
  for (std::size_t i = 0; i + 1 < name.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(name[i] | (name[i + 1] << 8));
    if (c == 0) break;
    ascii.push_back(c < 0x80 ? static_cast<char>(std::tolower(static_cast<int>(c))) : '?');
  }
  return ascii.find_first_not_of(' ') == std::string::npos || ascii.find(" base ") != std::string::npos;
}

CryptoApiInfo read_crypto_api(std::span<const std::uint8_t> info, OfficeKind& kind) {
  CryptoApiInfo out;
  out.flags = get_u32(info, 4);
  const std::uint32_t header_size = get_u32(info, 8);
  out.header = slice(info, 12, header_size);
  const std::span<const std::uint8_t> header(out.header);
  const std::uint32_t flags = get_u32(header, 0);
  out.algorithm_id = get_u32(header, 8);
  out.hash_algorithm_id = get_u32(header, 12);
  out.key_bits = get_u32(header, 16);
  out.provider_type = get_u32(header, 20);
  if ((flags & kFlagExternal) != 0) unsupported("Office extensible encryption");
  if ((flags & kFlagCryptoApi) == 0) unsupported("an Office encryption header without the CryptoAPI flag");
  if (out.hash_algorithm_id != 0 && out.hash_algorithm_id != kAlgSha1) {
    unsupported("Office encryption hashing with algorithm " + hex(out.hash_algorithm_id));
  }
  std::uint32_t algorithm = out.algorithm_id;
  if (algorithm == 0) algorithm = (flags & kFlagAes) != 0 ? kAlgAes128 : kAlgRc4;
  if (algorithm == kAlgRc4) {
    kind = OfficeKind::Rc4CryptoApi;
    if (out.key_bits == 0) out.key_bits = names_base_provider(header.subspan(std::min<std::size_t>(32, header.size()))) ? 40 : 128;
    if (out.key_bits < 40 || out.key_bits > 512 || out.key_bits % 8 != 0) {
      damaged("RC4 key of " + std::to_string(out.key_bits) + " bits in the encryption header");
    }
  } else if (aes_bits(algorithm) != 0) {
    // Access with its compatibility setting off writes an AES algorithm
    // without the AES flag; its keys then skip the password rounds.
    kind = (flags & kFlagAes) != 0 ? OfficeKind::StandardAes : OfficeKind::AesWithoutSpin;
    if (out.key_bits == 0) out.key_bits = aes_bits(algorithm);
    if (out.key_bits != aes_bits(algorithm)) damaged("AES key size does not match its algorithm");
  } else {
    unsupported("Office CryptoAPI encryption with algorithm " + hex(algorithm));
  }
  out.algorithm_id = algorithm;
  std::size_t at = 12 + std::size_t{header_size};
  if (get_u32(info, at) != kSaltSize) damaged("salt size in the encryption verifier is not 16");
  out.salt = slice(info, at + 4, kSaltSize);
  out.encrypted_verifier = slice(info, at + 20, 16);
  out.verifier_hash_size = get_u32(info, at + 36);
  if (out.verifier_hash_size != 20) damaged("verifier hash of the encryption header is not SHA-1 sized");
  out.encrypted_verifier_hash = slice(info, at + 40, kind == OfficeKind::Rc4CryptoApi ? 20 : 32);
  return out;
}

std::uint32_t number_of(const XmlElement& e, std::string_view text, std::string_view name) {
  const auto value = e.attribute(text, name);
  std::uint32_t n = 0;
  if (!value || std::from_chars(value->data(), value->data() + value->size(), n).ec != std::errc{}) {
    damaged("agile encryption descriptor: attribute " + std::string(name) + " missing or not a number");
  }
  return n;
}

std::string text_of(const XmlElement& e, std::string_view text, std::string_view name) {
  const auto value = e.attribute(text, name);
  if (!value) damaged("agile encryption descriptor: attribute " + std::string(name) + " missing");
  return std::string(*value);
}

Bytes base64_of(const XmlElement& e, std::string_view text, std::string_view name) {
  const auto decoded = base64_decode(text_of(e, text, name));
  if (!decoded) damaged("agile encryption descriptor: attribute " + std::string(name) + " is not base64");
  return *decoded;
}

AgileKey agile_key(const XmlElement& e, std::string_view text) {
  AgileKey key;
  key.salt_size = number_of(e, text, "saltSize");
  key.block_size = number_of(e, text, "blockSize");
  key.key_bits = number_of(e, text, "keyBits");
  key.hash_size = number_of(e, text, "hashSize");
  key.cipher = text_of(e, text, "cipherAlgorithm");
  key.chaining = text_of(e, text, "cipherChaining");
  const std::string hash = text_of(e, text, "hashAlgorithm");
  key.salt = base64_of(e, text, "saltValue");
  if (key.cipher != "AES") unsupported("agile encryption with the " + key.cipher + " cipher");
  if (key.chaining != "ChainingModeCBC") unsupported("agile encryption in " + key.chaining);
  const auto kind = hash_kind_named(hash);
  if (!kind) unsupported("agile encryption hashing with " + hash);
  key.hash = *kind;
  if (key.block_size != 16 || (key.key_bits != 128 && key.key_bits != 192 && key.key_bits != 256) ||
      key.salt.size() != key.salt_size || key.salt.size() < 1 || key.hash_size != digest_size(key.hash)) {
    damaged("agile encryption descriptor with inconsistent sizes");
  }
  return key;
}

// The <keyData> and password <encryptedKey> elements of a descriptor.
struct AgileElements {
  const XmlElement* data = nullptr;
  const XmlElement* password = nullptr;
  bool integrity = false;
};

AgileElements agile_elements(const std::vector<XmlElement>& elements, std::string_view text) {
  AgileElements out;
  int encryptors = 0;
  bool password_encryptor = false;
  for (const XmlElement& e : elements) {
    if (e.local_name == "keyData" && out.data == nullptr) out.data = &e;
    if (e.local_name == "dataIntegrity") out.integrity = true;
    if (e.local_name == "keyEncryptor") {
      ++encryptors;
      password_encryptor = password_encryptor || e.attribute(text, "uri") == kPasswordEncryptor;
    }
    if (e.local_name == "encryptedKey" && e.attribute(text, "spinCount") && out.password == nullptr) out.password = &e;
  }
  if (out.data == nullptr) damaged("agile encryption descriptor without keyData");
  if (!password_encryptor || out.password == nullptr) unsupported("agile encryption without a password key");
  if (encryptors != 1) unsupported("agile encryption with more than one key encryptor");
  return out;
}

AgileInfo read_agile(std::span<const std::uint8_t> info) {
  if (get_u32(info, 4) != kAgileReserved) damaged("agile encryption header with an unexpected reserved value");
  AgileInfo out;
  out.descriptor.assign(info.begin() + 8, info.end());
  const std::string_view text = out.descriptor;
  const auto elements = xml_elements(text);
  if (!elements) damaged("agile encryption descriptor is not well-formed XML");
  const AgileElements found = agile_elements(*elements, text);
  out.data = agile_key(*found.data, text);
  out.password = agile_key(*found.password, text);
  out.spin_count = number_of(*found.password, text, "spinCount");
  if (out.spin_count > kMaxSpinCount) damaged("agile encryption descriptor asks for too many rounds");
  out.encrypted_verifier_input = base64_of(*found.password, text, "encryptedVerifierHashInput");
  out.encrypted_verifier_value = base64_of(*found.password, text, "encryptedVerifierHashValue");
  out.encrypted_key_value = base64_of(*found.password, text, "encryptedKeyValue");
  for (const Bytes* b : {&out.encrypted_verifier_input, &out.encrypted_verifier_value, &out.encrypted_key_value}) {
    if (b->empty() || b->size() % 16 != 0) damaged("agile encryption descriptor with a value of a partial block");
  }
  if (out.encrypted_key_value.size() < out.data.key_bits / 8) damaged("agile encryption key value too short");
  return out;
}

// The descriptor with the salts and encrypted values of `info` in place of
// the stored ones; every other byte stays as it was.
std::string agile_descriptor(const AgileInfo& info) {
  const std::string_view text = info.descriptor;
  const auto elements = xml_elements(text);
  if (!elements) damaged("agile encryption descriptor is not well-formed XML");
  const AgileElements found = agile_elements(*elements, text);
  if (found.integrity) unsupported("agile encryption with a data integrity check");
  struct Splice {
    const XmlAttribute* where;
    std::string value;
  };
  std::vector<Splice> splices;
  const auto replace = [&](const XmlElement& e, std::string_view name, const Bytes& value) {
    for (const XmlAttribute& a : e.attributes) {
      if (a.name == name) splices.push_back({&a, base64_encode(value)});
    }
  };
  replace(*found.data, "saltValue", info.data.salt);
  replace(*found.password, "saltValue", info.password.salt);
  replace(*found.password, "encryptedVerifierHashInput", info.encrypted_verifier_input);
  replace(*found.password, "encryptedVerifierHashValue", info.encrypted_verifier_value);
  replace(*found.password, "encryptedKeyValue", info.encrypted_key_value);
  std::sort(splices.begin(), splices.end(),
            [](const Splice& a, const Splice& b) { return a.where->value_at < b.where->value_at; });
  std::string out;
  std::size_t copied = 0;
  for (const Splice& s : splices) {
    out.append(text.substr(copied, s.where->value_at - copied));
    out.append(s.value);
    copied = s.where->value_at + s.where->value_size;
  }
  out.append(text.substr(copied));
  return out;
}

Bytes stored_bytes(const OfficeEncryption& info) {
  Bytes out;
  out.push_back(static_cast<std::uint8_t>(info.major));
  out.push_back(static_cast<std::uint8_t>(info.major >> 8));
  out.push_back(static_cast<std::uint8_t>(info.minor));
  out.push_back(static_cast<std::uint8_t>(info.minor >> 8));
  if (info.kind == OfficeKind::Agile) {
    append_u32(out, kAgileReserved);
    const std::string xml = agile_descriptor(info.agile);
    out.insert(out.end(), xml.begin(), xml.end());
    return out;
  }
  const CryptoApiInfo& api = info.api;
  append_u32(out, api.flags);
  append_u32(out, static_cast<std::uint32_t>(api.header.size()));
  out.insert(out.end(), api.header.begin(), api.header.end());
  append_u32(out, static_cast<std::uint32_t>(api.salt.size()));
  out.insert(out.end(), api.salt.begin(), api.salt.end());
  out.insert(out.end(), api.encrypted_verifier.begin(), api.encrypted_verifier.end());
  append_u32(out, api.verifier_hash_size);
  out.insert(out.end(), api.encrypted_verifier_hash.begin(), api.encrypted_verifier_hash.end());
  return out;
}

CryptoApiInfo crypto_api_defaults(std::uint32_t flags, std::uint32_t algorithm, std::uint32_t key_bits,
                                  std::uint32_t provider, std::u16string_view provider_name, std::size_t hash_size) {
  CryptoApiInfo api;
  api.flags = flags;
  api.algorithm_id = algorithm;
  api.hash_algorithm_id = kAlgSha1;
  api.key_bits = key_bits;
  api.provider_type = provider;
  for (std::uint32_t v : {flags, 0u, algorithm, kAlgSha1, key_bits, provider, 0u, 0u}) append_u32(api.header, v);
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

OfficeEncryption read_office_encryption(std::span<const std::uint8_t> header_page) {
  const std::uint16_t size = get_u16(header_page, kEncryptionInfoOffset);
  const std::span<const std::uint8_t> info = header_page.subspan(kEncryptionInfoOffset + 2);
  check_range(info, 0, size);
  const std::span<const std::uint8_t> stored = info.first(size);
  OfficeEncryption out;
  out.major = get_u16(stored, 0);
  out.minor = get_u16(stored, 2);
  const std::string version = version_text(out.major, out.minor);
  if (out.major == 4 && out.minor == 4) {
    out.kind = OfficeKind::Agile;
    out.agile = read_agile(stored);
  } else if (out.minor == 2 && out.major >= 2 && out.major <= 4) {
    out.api = read_crypto_api(stored, out.kind);
  } else if (out.minor == 3 && (out.major == 3 || out.major == 4)) {
    unsupported("Office extensible encryption (version " + version + ")");
  } else if (out.major == 1 && out.minor == 1) {
    unsupported("Office 97 RC4 encryption (version 1.1)");
  } else {
    unsupported("an unknown kind of Office encryption (version " + version + ")");
  }
  return out;
}

void write_office_encryption(const OfficeEncryption& info, Bytes& header_page) {
  const Bytes stored = stored_bytes(info);
  const std::size_t start = kEncryptionInfoOffset + 2;
  if (stored.size() > 0xFFFF || header_page.size() < start + stored.size()) {
    throw Error(errc::kCannotOpenDatabase, "The encryption header does not fit in the header page.");
  }
  // What the old header held beyond the new one's end goes.
  const std::size_t old_size = std::min<std::size_t>(get_u16(header_page, kEncryptionInfoOffset), header_page.size() - start);
  std::fill(header_page.begin() + static_cast<std::ptrdiff_t>(start),
            header_page.begin() + static_cast<std::ptrdiff_t>(start + std::max(old_size, stored.size())), 0);
  put_u16(header_page, kEncryptionInfoOffset, static_cast<std::uint16_t>(stored.size()));
  std::copy(stored.begin(), stored.end(), header_page.begin() + static_cast<std::ptrdiff_t>(start));
}

bool holds_office_encryption(std::span<const std::uint8_t> header_page, const OfficeEncryption& info) {
  const Bytes stored = stored_bytes(info);
  const std::size_t start = kEncryptionInfoOffset + 2;
  if (header_page.size() < start + stored.size() || get_u16(header_page, kEncryptionInfoOffset) != stored.size()) {
    return false;
  }
  return std::equal(stored.begin(), stored.end(), header_page.begin() + static_cast<std::ptrdiff_t>(start));
}

OfficeEncryption default_office_encryption(OfficeKind kind) {
  OfficeEncryption info;
  info.kind = kind;
  info.major = 4;
  info.minor = kind == OfficeKind::Agile ? 4 : 2;
  switch (kind) {
    case OfficeKind::Rc4CryptoApi:
      info.api = crypto_api_defaults(kFlagCryptoApi | kFlagDocProps, kAlgRc4, 128, 1, u"Microsoft Enhanced Cryptographic Provider v1.0", 20);
      break;
    case OfficeKind::StandardAes:
      info.api = crypto_api_defaults(kFlagCryptoApi | kFlagAes, kAlgAes128, 128, 0x18,
                                     u"Microsoft Enhanced RSA and AES Cryptographic Provider", 32);
      break;
    case OfficeKind::AesWithoutSpin:
      info.api = crypto_api_defaults(kFlagCryptoApi | kFlagDocProps, kAlgAes256, 256, 0x18, u"Microsoft Enhanced RSA and AES Cryptographic Provider", 32);
      break;
    case OfficeKind::Agile:
      info.agile = agile_defaults();
      break;
  }
  return info;
}

std::string OfficeEncryption::describe() const {
  const std::string version = "version " + version_text(major, minor);
  switch (kind) {
    case OfficeKind::Rc4CryptoApi:
      return "RC4 CryptoAPI (" + version + ", RC4 " + std::to_string(api.key_bits) + "-bit, SHA1)";
    case OfficeKind::StandardAes:
      return "standard (" + version + ", AES-" + std::to_string(api.key_bits) + " ECB, SHA1, 50000 rounds)";
    case OfficeKind::AesWithoutSpin:
      return "standard without rounds (" + version + ", AES-" + std::to_string(api.key_bits) + " ECB, SHA1)";
    case OfficeKind::Agile:
      return "agile (" + version + ", AES-" + std::to_string(agile.data.key_bits) + " CBC, " +
             std::string(hash_name(agile.data.hash)) + ", " + std::to_string(agile.spin_count) + " rounds)";
  }
  return version;
}

}  // namespace jet::crypt
