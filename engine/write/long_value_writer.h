#pragma once
// Lays long values (Memo, OLE) out on fresh long-value pages and returns the
// 12-byte reference a row stores for each. A value that fits one long-value
// row becomes a single row; a larger one becomes a chain of rows, each
// starting with a link to the next, filling the pages it passes through.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/write/data_page_builder.h"
#include "engine/write/write_format.h"

namespace jet::write {

// Flags in the top bits of a long-value reference's length field.
inline constexpr std::uint32_t kLongValueFlagInline = 0x80000000u;
inline constexpr std::uint32_t kLongValueFlagSingleRow = 0x40000000u;
inline constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFFu;
// A long-value field's reference, before any data held inline.
inline constexpr std::uint32_t kLongValueHeaderSize = 12;

using LongValueReference = std::array<std::uint8_t, 12>;

struct FinishedPage {
  std::uint32_t number = 0;
  Bytes bytes;
};

class LongValueWriter {
 public:
  using PageSink = std::function<void(FinishedPage)>;
  // `allocate_page` hands out the number of the next free page of the file.
  // With a `sink`, each page goes there once no later value can touch it,
  // and finish() hands over the last one; without, finish() returns them all.
  LongValueWriter(const WriteFormat& format, std::function<std::uint32_t()> allocate_page, PageSink sink = {});

  // Stores the value (at least one byte) and returns the reference for the row.
  LongValueReference write(const Bytes& value);

  // Closes the open page; returns every page not yet given to the sink, in
  // page order.
  std::vector<FinishedPage> finish();
  // Pages used so far (including the open one).
  const std::vector<std::uint32_t>& pages() const { return page_numbers_; }

 private:
  struct Placed {
    std::uint32_t page;
    std::uint16_t row;
  };
  Placed place(const Bytes& row);
  void open_new_page();
  void flush_closed_pages();
  std::uint32_t room_on_open_page() const;

  WriteFormat format_;
  std::function<std::uint32_t()> allocate_page_;
  PageSink sink_;
  std::vector<FinishedPage> done_;
  std::vector<std::uint32_t> page_numbers_;
  std::optional<DataPageBuilder> open_;
  std::uint32_t open_number_ = 0;
};

}  // namespace jet::write
