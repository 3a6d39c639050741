// quillmar-encrypt: an encrypted copy of an unencrypted Jet 4 or ACE
// database, for the benchmark that compares encrypted and plain compaction.
//   quillmar-encrypt SOURCE DESTINATION KIND PASSWORD-FILE
// KIND: agile, rc4, standard or standard-without-rounds.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/builder/encrypted_copy.h"
#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/text_codec.h"

int main(int argc, char** argv) {
  using jet::crypt::OfficeKind;
  if (argc != 5) {
    std::fprintf(stderr, "usage: quillmar-encrypt SOURCE DESTINATION agile|rc4|standard|standard-without-rounds PASSWORD-FILE\n");
    return 2;
  }
  const std::string kind_name = argv[3];
  OfficeKind kind = OfficeKind::Agile;
  if (kind_name == "rc4") {
    kind = OfficeKind::Rc4CryptoApi;
  } else if (kind_name == "standard") {
    kind = OfficeKind::StandardAes;
  } else if (kind_name == "standard-without-rounds") {
    kind = OfficeKind::AesWithoutSpin;
  } else if (kind_name != "agile") {
    std::fprintf(stderr, "quillmar-encrypt: unknown kind '%s'\n", argv[3]);
    return 2;
  }
  std::ifstream file(argv[4], std::ios::binary);
  std::string password((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) {
    std::fprintf(stderr, "quillmar-encrypt: cannot read %s\n", argv[4]);
    return 2;
  }
  if (!password.empty() && password.back() == '\n') password.pop_back();
  try {
    jet::build::write_encrypted_copy(jet::default_env(), argv[1], argv[2], kind, jet::utf8_to_utf16(password));
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "quillmar-encrypt: error %d: %s\n", e.number(), e.description().c_str());
    return 1;
  }
  return 0;
}
