#include "engine/error.h"

#include <gtest/gtest.h>

TEST(EngineError, CarriesNumberDescriptionAndSource) {
  try {
    throw jet::Error(jet::errc::kNotAValidPassword, "Not a valid password.");
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), 3031);
    EXPECT_EQ(e.description(), "Not a valid password.");
    EXPECT_EQ(e.source(), jet::kEngineSource);
    EXPECT_STREQ(e.what(), "Not a valid password.");
  }
}
