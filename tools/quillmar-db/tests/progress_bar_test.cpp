#include "tools/quillmar-db/progress_bar.h"

#include <gtest/gtest.h>

namespace quillmar_db {
namespace {

TEST(ProgressBar, RendersFractionAndClampsNonsense) {
  EXPECT_EQ(ProgressBar::render("C", 0, 10, 10), "C [          ] 0% (0/10 pages)");
  EXPECT_EQ(ProgressBar::render("C", 5, 10, 10), "C [#####     ] 50% (5/10 pages)");
  EXPECT_EQ(ProgressBar::render("C", 10, 10, 10), "C [##########] 100% (10/10 pages)");
  // More done than in all (a total that grew), or a total of zero, stay in bounds.
  EXPECT_EQ(ProgressBar::render("C", 12, 10, 10), "C [##########] 100% (10/10 pages)");
  EXPECT_EQ(ProgressBar::render("C", 0, 0, 4), "C [    ] 0% (0/1 pages)");
}

TEST(ProgressBar, DrawsNothingWhenDisabledAndClearsItsLineWhenDone) {
  std::FILE* f = std::tmpfile();
  {
    ProgressBar off(f, false, "X");
    off.update(1, 2);
  }
  EXPECT_EQ(std::ftell(f), 0);
  {
    ProgressBar on(f, true, "X");
    on.update(1, 2);
    on.update(2, 2);
    on.finish();
  }
  std::rewind(f);
  char buf[512] = {};
  std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::string text(buf, n);
  EXPECT_NE(text.find("\rX ["), std::string::npos);
  EXPECT_NE(text.find("100%"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
  std::fclose(f);
}

}  // namespace
}  // namespace quillmar_db
