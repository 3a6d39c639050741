#pragma once
// RFC 4180 output: fields separated by commas, quoted fields in double quotes
// with inner quotes doubled, line breaks inside quoted fields kept as they
// are. Rows end in "\n" as the usual Linux export tools end them. Output is
// buffered; write failures surface as jet::Error from flush().
#include <cstdio>
#include <string>
#include <string_view>

namespace quillmar_db {

class CsvWriter {
 public:
  explicit CsvWriter(std::FILE* out) : out_(out) {}
  ~CsvWriter();
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  // A field written as it is: numbers, and the empty field that stands for null.
  void plain(std::string_view text);
  // A field in quotes, whatever it holds.
  void quoted(std::string_view text);
  // A field quoted only when it holds a comma, quote or line break.
  void quoted_if_needed(std::string_view text);
  void end_row();
  // Writes out the buffer; throws jet::Error (disk full, broken pipe, ...).
  void flush();

 private:
  void separate();
  void spill_if_full();

  std::FILE* out_;
  std::string buffer_;
  bool row_open_ = false;
};

}  // namespace quillmar_db
