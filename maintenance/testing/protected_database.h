#pragma once
// Tests only: makes a database protected with our database password, by
// compacting an unprotected one into a new file that gets the password.
#include <string>

#include "engine/compact/compact.h"
#include "maintenance/testing/plain_database_password.h"
#include "platform/text.h"

namespace quillmar::maintenance::testing {

inline void BuildProtectedDatabase(const std::string& unprotected_source, const std::string& destination) {
  jet::CompactRequest request;
  request.source_path = unprotected_source;
  request.destination_path = destination;
  request.destination_password = platform::ToUtf8(kPlainDatabasePassword);
  jet::compact_database(request);
}

}  // namespace quillmar::maintenance::testing
