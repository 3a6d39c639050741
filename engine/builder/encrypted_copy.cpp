#include "engine/builder/encrypted_copy.h"

#include <algorithm>
#include <cstring>

#include "engine/crypt/office_cipher.h"
#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/header_page.h"
#include "engine/write/little_endian.h"

namespace jet::build {

void write_encrypted_copy(Env& env, const std::string& source, const std::string& destination,
                          crypt::OfficeKind kind, std::u16string_view password) {
  auto in = env.open_readable(source);
  const std::uint64_t size = in->size();
  const JetFormat& f = jet4_format();
  if (size < f.page_size || size % f.page_size != 0) {
    throw Error(errc::kCannotOpenDatabase, "Not a whole number of Jet 4 pages: " + source);
  }
  Bytes header(f.page_size);
  in->read(0, header.size(), header.data());
  HeaderInfo info;
  if (!parse_header_page(header.data(), header.size(), source, info) || info.format->version != JetVersion::Jet4 ||
      info.encrypted()) {
    throw Error(errc::kUnrecognizedFormat, "Not an unencrypted Jet 4 or ACE database: " + source);
  }
  if (!info.format->ace) {
    std::memcpy(header.data() + 4, "Standard ACE DB", 15);
    header[0x14] = 3;
  }
  // A database key of zero means "not encrypted"; any other value will do.
  std::uint32_t key = 0;
  while (key == 0) {
    const Bytes random = crypt::random_bytes(4);
    key = write::get_u32(random, 0);
  }
  toggle_header_mask(f, header.data());
  write::put_u32(header, f.header_database_key_offset, key);
  toggle_header_mask(f, header.data());
  const crypt::Sealed sealed = crypt::new_office_encryption(kind, password, key);
  crypt::write_office_encryption(sealed.info, header);

  auto out = env.create_exclusive(destination);
  out->write(0, header.data(), header.size());
  constexpr std::uint32_t kPagesPerChunk = 256;
  Bytes chunk;
  const auto pages = static_cast<std::uint32_t>(size / f.page_size);
  for (std::uint32_t first = 1; first < pages; first += kPagesPerChunk) {
    const std::uint32_t count = std::min(kPagesPerChunk, pages - first);
    chunk.resize(std::size_t{count} * f.page_size);
    in->read(std::uint64_t{first} * f.page_size, chunk.size(), chunk.data());
    for (std::uint32_t i = 0; i < count; ++i) {
      sealed.cipher->encrypt(first + i, chunk.data() + std::size_t{i} * f.page_size, f.page_size);
    }
    out->write(std::uint64_t{first} * f.page_size, chunk.data(), chunk.size());
  }
  out->sync();
  out->close();
}

}  // namespace jet::build
