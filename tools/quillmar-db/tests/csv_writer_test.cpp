#include "tools/quillmar-db/csv_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/error.h"

namespace quillmar_db {
namespace {

// Collects what a writer produces through a memory stream.
class Captured {
 public:
  Captured() : file_(open_memstream(&data_, &size_)) {}
  ~Captured() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

TEST(CsvWriter, QuotesDoublesInnerQuotesAndKeepsLineBreaks) {
  Captured out;
  {
    CsvWriter csv(out.file());
    csv.quoted_if_needed("A");
    csv.quoted_if_needed("with,comma");
    csv.quoted_if_needed("say \"hi\"");
    csv.end_row();
    csv.quoted("AA\"AA");
    csv.plain("");
    csv.quoted("");
    csv.quoted("two\r\nlines");
    csv.plain("-1.5");
    csv.end_row();
    csv.flush();
  }
  EXPECT_EQ(out.text(),
            "A,\"with,comma\",\"say \"\"hi\"\"\"\n"
            "\"AA\"\"AA\",,\"\",\"two\r\nlines\",-1.5\n");
}

TEST(CsvWriter, LargeOutputSurvivesSpillsInOrder) {
  Captured out;
  std::string expected;
  {
    CsvWriter csv(out.file());
    for (int i = 0; i < 20000; ++i) {
      csv.plain(std::to_string(i));
      csv.quoted(std::string(static_cast<std::size_t>(i % 7), '"'));
      csv.end_row();
      expected += std::to_string(i) + ",\"" + std::string(static_cast<std::size_t>(2 * (i % 7)), '"') + "\"\n";
    }
  }  // destruction writes what is left
  EXPECT_EQ(out.text(), expected);
}

TEST(CsvWriter, WriteFailureIsAnErrorNotSilence) {
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "/dev/full is not available";
  {
    CsvWriter csv(full);
    csv.quoted("data");
    csv.end_row();
    try {
      csv.flush();
      ADD_FAILURE() << "writing to a full disk reported success";
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.number(), 3026);
    }
  }
  std::fclose(full);
}

}  // namespace
}  // namespace quillmar_db
