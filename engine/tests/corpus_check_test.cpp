// The integrity check on every sample database: files Access wrote and
// left alone are not damaged, so the check may note leftovers but must not
// report errors.
#include <gtest/gtest.h>

#include "engine/check/check.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_samples.h"

namespace {

TEST(CorpusCheck, SampleDatabasesHaveNoErrors) {
  QUILLMAR_REQUIRE_CORPUS();
  for (const auto& f : quillmar_test::corpus_files()) {
    SCOPED_TRACE(f.path.string());
    auto db = quillmar_test::open_sample(f);
    jet::CheckReport report = jet::check_database(*db);
    for (const auto& finding : report.findings) {
      if (finding.severity == jet::Severity::Error) {
        ADD_FAILURE() << "page " << finding.page << " [" << finding.table << "] " << finding.kind << ": "
                      << finding.message;
      }
    }
  }
}

}  // namespace
