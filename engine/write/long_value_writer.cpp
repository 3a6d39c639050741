#include "engine/write/long_value_writer.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/write/little_endian.h"

namespace jet::write {

namespace {
// A chain piece smaller than this is not worth its 4-byte link and offset entry.
constexpr std::uint32_t kSmallestChainPiece = 64;
constexpr std::uint32_t kLinkSize = 4;

LongValueReference make_reference(std::uint32_t length_and_flags, std::uint32_t page, std::uint16_t row) {
  LongValueReference ref{};
  Bytes tmp(12, 0);
  put_u32(tmp, 0, length_and_flags);
  put_u32(tmp, 4, row_reference(page, row));
  std::copy(tmp.begin(), tmp.end(), ref.begin());
  return ref;
}
}  // namespace

LongValueWriter::LongValueWriter(const WriteFormat& format, std::function<std::uint32_t()> allocate_page,
                                 PageSink sink)
    : format_(format), allocate_page_(std::move(allocate_page)), sink_(std::move(sink)) {}

void LongValueWriter::open_new_page() {
  if (open_) done_.push_back(FinishedPage{open_number_, open_->page()});
  open_.emplace(format_, kLongValueOwner);
  open_number_ = allocate_page_();
  page_numbers_.push_back(open_number_);
}

std::uint32_t LongValueWriter::room_on_open_page() const {
  if (!open_ || open_->row_count() >= format_.max_rows_per_page || open_->free_space() < 2) return 0;
  return std::min(open_->free_space() - 2, format_.max_long_value_row);
}

LongValueWriter::Placed LongValueWriter::place(const Bytes& row) {
  if (!open_ || !open_->fits(row.size())) open_new_page();
  const std::uint16_t slot = open_->add(row);
  return Placed{open_number_, slot};
}

LongValueReference LongValueWriter::write(const Bytes& value) {
  if (value.empty() || value.size() > kLongValueLengthMask) {
    throw Error(errc::kCannotOpenDatabase, "Internal error: long value of unsupported size.");
  }
  const auto length = static_cast<std::uint32_t>(value.size());
  if (length <= format_.max_long_value_row) {
    const Placed at = place(value);
    flush_closed_pages();
    return make_reference(length | kLongValueFlagSingleRow, at.page, at.row);
  }
  // Chain: split into pieces that fill the open page first, then whole pages.
  // Rows are written last piece first so each piece knows its successor;
  // so plan the piece sizes and their places up front.
  std::vector<std::uint32_t> sizes;
  {
    std::uint32_t left = length;
    std::uint32_t room = room_on_open_page();
    bool first = true;
    const std::uint32_t full_page_piece =
        std::min(static_cast<std::uint32_t>(DataPageBuilder::max_row_size(format_)), format_.max_long_value_row) - kLinkSize;
    while (left > 0) {
      std::uint32_t piece;
      if (first && room >= kLinkSize + kSmallestChainPiece) {
        piece = std::min(left, room - kLinkSize);
      } else {
        piece = std::min(left, full_page_piece);
      }
      first = false;
      sizes.push_back(piece);
      left -= piece;
    }
  }
  // Pieces are placed first with empty links; each link is filled in once
  // its successor's place is known.
  std::vector<Placed> places;
  std::uint32_t consumed = 0;
  for (std::uint32_t size : sizes) {
    Bytes row(kLinkSize + size, 0);
    std::copy(value.begin() + consumed, value.begin() + consumed + size, row.begin() + kLinkSize);
    consumed += size;
    places.push_back(place(row));
  }
  for (std::size_t i = 0; i + 1 < places.size(); ++i) {
    Bytes* page = places[i].page == open_number_ ? &open_->mutable_page() : nullptr;
    for (FinishedPage& f : done_) {
      if (f.number == places[i].page) page = &f.bytes;
    }
    if (!page) throw Error(errc::kCannotOpenDatabase, "Internal error: long-value page lost.");
    const std::uint32_t offset = get_u16(*page, format_.data_row_table_at + 2u * places[i].row) & 0x1FFF;
    put_u32(*page, offset, row_reference(places[i + 1].page, places[i + 1].row));
  }
  flush_closed_pages();
  return make_reference(length, places.front().page, places.front().row);
}

void LongValueWriter::flush_closed_pages() {
  if (!sink_) return;
  for (FinishedPage& p : done_) sink_(std::move(p));
  done_.clear();
}

std::vector<FinishedPage> LongValueWriter::finish() {
  if (open_) {
    done_.push_back(FinishedPage{open_number_, open_->page()});
    open_.reset();
  }
  flush_closed_pages();
  std::vector<FinishedPage> out = std::move(done_);
  done_.clear();
  std::sort(out.begin(), out.end(), [](const FinishedPage& a, const FinishedPage& b) { return a.number < b.number; });
  return out;
}

}  // namespace jet::write
