#pragma once
// A copy of an unencrypted Jet 4 or ACE database, encrypted as Access
// encrypts a database when it is given a password: for tests and
// benchmarks, since files Access encrypted are few and each kind of
// encryption needs its own round trip. A Jet 4 source becomes an Access 2010
// file (same pages, ACE header).
#include <string>
#include <string_view>

#include "engine/crypt/encryption_info.h"

namespace jet {
class Env;
}

namespace jet::build {

void write_encrypted_copy(Env& env, const std::string& source, const std::string& destination,
                          crypt::OfficeKind kind, std::u16string_view password);

}  // namespace jet::build
