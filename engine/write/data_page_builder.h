#pragma once
// Fills one data page with rows: rows grow down from the page end, their
// offsets grow up behind the header. The same layout serves table rows,
// long-value rows and usage-map rows; only the owner field differs.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/write/write_format.h"

namespace jet::write {

using Bytes = std::vector<std::uint8_t>;

// Owner field of long-value pages: the text "LVAL" read as a number.
inline constexpr std::uint32_t kLongValueOwner = 0x4C41564C;

// Where rows land on a data page, from their sizes alone: how the builder
// below fills a page, for working out places before the bytes are at hand.
class PageFill {
 public:
  explicit PageFill(const WriteFormat& format)
      : max_rows_(format.max_rows_per_page), free_(format.page_size - format.data_page_header_size()) {}

  // True when a row of this many bytes still fits (with its offset entry).
  bool fits(std::size_t row_size) const { return rows_ < max_rows_ && row_size + 2 <= free_; }
  // Takes the room for the row and returns its row number on the page.
  // Throws if it does not fit.
  std::uint16_t add(std::size_t row_size);
  std::uint16_t rows() const { return rows_; }
  std::uint32_t free_space() const { return free_; }

 private:
  std::uint32_t max_rows_;
  std::uint32_t free_;
  std::uint16_t rows_ = 0;
};

class DataPageBuilder {
 public:
  DataPageBuilder(const WriteFormat& format, std::uint32_t owner);

  // True when a row of this many bytes still fits (with its offset entry).
  bool fits(std::size_t row_size) const { return fill_.fits(row_size); }
  // Appends the row and returns its row number on the page. Throws if it does not fit.
  std::uint16_t add(std::span<const std::uint8_t> row);
  std::uint16_t row_count() const { return fill_.rows(); }
  std::uint32_t free_space() const { return fill_.free_space(); }
  bool empty() const { return fill_.rows() == 0; }
  const Bytes& page() const { return page_; }
  // For filling in bytes of rows already added (links written after the fact).
  Bytes& mutable_page() { return page_; }

  // Largest row an empty page takes.
  static std::size_t max_row_size(const WriteFormat& format);

 private:
  WriteFormat format_;
  Bytes page_;
  PageFill fill_;
  std::uint32_t data_start_ = 0;  // lowest byte used by row data
};

// One row of a page read back: its bytes and its offset-table flags.
struct StoredRow {
  Bytes bytes;
  bool deleted = false;
  bool lookup = false;      // the row only points to where the row lives now
  bool moved_here = false;  // the row was moved here from a page it no longer fitted
};

// Reads the rows of a data page laid out as above (for checks and tests).
std::vector<StoredRow> read_data_page_rows(const WriteFormat& format, const Bytes& page);

}  // namespace jet::write
