#include "engine/check/check.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/read/database.h"

namespace jet {

std::size_t CheckReport::error_count() const {
  return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(),
                                                [](const Finding& f) { return f.severity == Severity::Error; }));
}

std::size_t CheckReport::note_count() const { return findings.size() - error_count(); }

CheckReport check_database(Database& db) {
  (void)db;
  throw Error(errc::kNotBuiltYet, "The integrity check is not built yet.");
}

}  // namespace jet
