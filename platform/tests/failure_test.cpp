#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "engine/error.h"
#include "platform/failure.h"

namespace quillmar::platform {
namespace {

template <class Throw>
Failure Caught(Throw raise) {
  try {
    raise();
  } catch (...) {
    return CurrentFailure();
  }
  return Failure(-1, u"nothing thrown", u"");
}

TEST(CurrentFailure, KeepsAllThreePartsOfEveryKindOfFailure) {
  const Failure engine = Caught([] { throw jet::Error(3031, "Not a valid password.", "Jet"); });
  EXPECT_EQ(engine.number(), 3031);
  EXPECT_EQ(engine.description(), u"Not a valid password.");
  EXPECT_EQ(engine.source(), u"Jet");

  const Failure memory = Caught([] { throw std::bad_alloc(); });
  EXPECT_EQ(memory.number(), 7);
  EXPECT_EQ(memory.description(), u"Out of memory");
  EXPECT_EQ(memory.source(), u"Quillmar");

  const Failure other = Caught([] { throw std::logic_error("broken"); });
  EXPECT_EQ(other.number(), 51);
  EXPECT_EQ(other.description(), u"broken");

  const Failure unknown = Caught([] { throw 42; });
  EXPECT_EQ(unknown.number(), 51);
  EXPECT_FALSE(unknown.description().empty());
}

TEST(RuntimeFailure, FileNumbersHaveTheirTexts) {
  EXPECT_EQ(RuntimeFailure(53).description(), u"File not found");
  EXPECT_EQ(RuntimeFailure(61).description(), u"Disk full");
  EXPECT_EQ(RuntimeFailure(70).description(), u"Permission denied");
  EXPECT_EQ(RuntimeFailure(75).description(), u"Path/File access error");
  EXPECT_EQ(RuntimeFailure(76).description(), u"Path not found");
  EXPECT_EQ(RuntimeFailure(6).description(), u"Overflow");
}

TEST(FailureRecord, SetThenClear) {
  FailureRecord record;
  record.Set(Failure(-2147467259, u"Unspecified error", u"Component"));
  EXPECT_EQ(record.Number(), -2147467259);
  EXPECT_EQ(record.Description(), u"Unspecified error");
  EXPECT_EQ(record.Source(), u"Component");
  record.Clear();
  EXPECT_EQ(record.Number(), 0);
  EXPECT_EQ(record.Description(), u"");
  EXPECT_EQ(record.Source(), u"");
}

}  // namespace
}  // namespace quillmar::platform
