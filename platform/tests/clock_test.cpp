#include <gtest/gtest.h>

#include "platform/clock.h"

namespace quillmar::platform {
namespace {

TEST(FormatDateTime, BackupPatternPadsEveryField) {
  EXPECT_EQ(FormatDateTime({2026, 12, 7, 9, 5, 33}, u"dd-mm-yyyy_hh-mm-ss"), u"07-12-2026_09-05-33");
  EXPECT_EQ(FormatDateTime({999, 1, 2, 0, 0, 0}, u"dd-mm-yyyy_hh-mm-ss"), u"02-01-0999_00-00-00");
  EXPECT_EQ(FormatDateTime({2027, 3, 31, 23, 59, 59}, u"dd-mm-yyyy_hh-mm-ss"), u"31-03-2027_23-59-59");
}

TEST(FormatDateTime, MmIsMonthUnlessBesideTimeFields) {
  const LocalDateTime when{2026, 4, 5, 6, 7, 8};
  EXPECT_EQ(FormatDateTime(when, u"mm/dd"), u"04/05");
  EXPECT_EQ(FormatDateTime(when, u"hh:mm"), u"06:07");
  EXPECT_EQ(FormatDateTime(when, u"mm:ss"), u"07:08");
  EXPECT_EQ(FormatDateTime(when, u"nn x"), u"07 x");
}

TEST(SystemClock, GivesAPlausibleLocalTime) {
  const LocalDateTime now = SystemClock().Now();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
  EXPECT_TRUE(now.minute >= 0 && now.minute <= 59);
  EXPECT_TRUE(now.second >= 0 && now.second <= 60);
}

}  // namespace
}  // namespace quillmar::platform
