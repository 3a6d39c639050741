#include "engine/write/data_page_builder.h"

#include "engine/error.h"
#include "engine/write/little_endian.h"

namespace jet::write {

namespace {
// Access marks a deleted row with both flags; a row that only points to
// where it moved carries 0x4000 and the moved row itself 0x8000.
constexpr std::uint16_t kMovedHereFlag = 0x8000;
constexpr std::uint16_t kLookupFlag = 0x4000;
constexpr std::uint16_t kOffsetMask = 0x1FFF;
}  // namespace

std::uint16_t PageFill::add(std::size_t row_size) {
  if (!fits(row_size)) throw Error(errc::kCannotOpenDatabase, "Internal error: a row does not fit on its page.");
  free_ -= static_cast<std::uint32_t>(row_size) + 2;
  return rows_++;
}

DataPageBuilder::DataPageBuilder(const WriteFormat& format, std::uint32_t owner)
    : format_(format), page_(format.page_size, 0), fill_(format) {
  page_[0] = 0x01;
  page_[1] = 0x01;
  put_u32(page_, 4, owner);
  data_start_ = format_.page_size;
  put_u16(page_, 2, fill_.free_space());
}

std::size_t DataPageBuilder::max_row_size(const WriteFormat& format) {
  return format.page_size - format.data_page_header_size() - 2;
}

std::uint16_t DataPageBuilder::add(std::span<const std::uint8_t> row) {
  const std::uint16_t number = fill_.add(row.size());
  data_start_ -= static_cast<std::uint32_t>(row.size());
  std::copy(row.begin(), row.end(), page_.begin() + data_start_);
  put_u16(page_, format_.data_row_table_at + 2u * number, data_start_);
  put_u16(page_, 2, fill_.free_space());
  put_u16(page_, format_.data_rows_count_at, fill_.rows());
  return number;
}

std::vector<StoredRow> read_data_page_rows(const WriteFormat& format, const Bytes& page) {
  if (page.size() != format.page_size || page[0] != 0x01) {
    throw Error(errc::kCannotOpenDatabase, "Not a data page.");
  }
  const std::uint32_t count = get_u16(page, format.data_rows_count_at);
  if (format.data_row_table_at + 2 * count > page.size()) throw Error(errc::kCannotOpenDatabase, "Data page row count out of range.");
  std::vector<StoredRow> rows;
  std::uint32_t end = format.page_size;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t entry = get_u16(page, format.data_row_table_at + 2 * i);
    const std::uint32_t start = entry & kOffsetMask;
    StoredRow row;
    row.deleted = (entry & (kMovedHereFlag | kLookupFlag)) == (kMovedHereFlag | kLookupFlag);
    row.lookup = !row.deleted && (entry & kLookupFlag) != 0;
    row.moved_here = !row.deleted && (entry & kMovedHereFlag) != 0;
    if (start < format.data_row_table_at + 2 * count || start > end) {
      throw Error(errc::kCannotOpenDatabase, "Data page row offset out of range.");
    }
    row.bytes.assign(page.begin() + start, page.begin() + end);
    end = start;
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace jet::write
