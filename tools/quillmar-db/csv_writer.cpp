#include "tools/quillmar-db/csv_writer.h"

#include <cerrno>
#include <cstring>

#include "engine/error.h"

namespace quillmar_db {
namespace {
constexpr std::size_t kSpillAt = 1 << 16;
}

CsvWriter::~CsvWriter() {
  if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
}

void CsvWriter::separate() {
  if (row_open_) buffer_.push_back(',');
  row_open_ = true;
}

void CsvWriter::plain(std::string_view text) {
  separate();
  buffer_ += text;
}

void CsvWriter::quoted(std::string_view text) {
  separate();
  buffer_.push_back('"');
  std::size_t start = 0;
  for (std::size_t q = text.find('"'); q != std::string_view::npos; q = text.find('"', start)) {
    buffer_.append(text, start, q + 1 - start);
    buffer_.push_back('"');
    start = q + 1;
  }
  buffer_.append(text, start);
  buffer_.push_back('"');
  spill_if_full();
}

void CsvWriter::quoted_if_needed(std::string_view text) {
  if (text.find_first_of(",\"\r\n") != std::string_view::npos) {
    quoted(text);
  } else {
    plain(text);
  }
}

void CsvWriter::end_row() {
  buffer_.push_back('\n');
  row_open_ = false;
  spill_if_full();
}

void CsvWriter::spill_if_full() {
  if (buffer_.size() >= kSpillAt) flush();
}

void CsvWriter::flush() {
  std::size_t written = buffer_.empty() ? 0 : std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
  bool failed = written != buffer_.size();
  buffer_.clear();
  if (!failed && std::fflush(out_) != 0) failed = true;
  if (failed) {
    int err = errno;
    if (err == ENOSPC) {
      throw jet::Error(3026, "Not enough space on disk.", "quillmar-db output");
    }
    throw jet::Error(3043, std::string("Cannot write the output: ") + std::strerror(err) + ".",
                     "quillmar-db output");
  }
}

}  // namespace quillmar_db
