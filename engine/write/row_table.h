#pragma once
// What the compactor keeps per row of the table it copies: where each live
// row is and how long it is, in scan order, and the order the rows are
// written in. Rows are read again from the source when they are written,
// and since their sizes do not change, where each lands is known from the
// sizes alone.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "engine/model/schema.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/write_format.h"

namespace jet::write {

struct RowTable {
  std::vector<RowPointer> old_at;
  std::vector<std::uint16_t> size;
  std::vector<std::uint32_t> order;  // positions in old_at, in write order
};

// Places rows in write order on consecutive data pages from their sizes
// alone, the way the row copier fills the pages.
class RowPlacer {
 public:
  explicit RowPlacer(const WriteFormat& format) : format_(format) {}
  // The row's page (counted from the table's first data page) and its row
  // number there.
  std::pair<std::size_t, std::uint16_t> place(std::size_t size) {
    if (!fill_ || !fill_->fits(size)) {
      if (fill_) ++page_;
      fill_.emplace(format_);
    }
    return {page_, fill_->add(size)};
  }
  std::size_t pages() const { return fill_ ? page_ + 1 : 0; }

 private:
  const WriteFormat& format_;
  std::optional<PageFill> fill_;
  std::size_t page_ = 0;
};

// Data pages the rows fill in write order (sizes do not change when they
// are written: long-value references keep their 12 bytes).
std::uint32_t count_data_pages(const WriteFormat& format, const RowTable& rows);

// Each row's new place by its scan position, worked out again the way the
// rows were placed on `data_pages` (only needed to carry stored entries over).
std::vector<RowPointer> new_places(const WriteFormat& format, const RowTable& rows,
                                   const std::vector<std::uint32_t>& data_pages);

}  // namespace jet::write
