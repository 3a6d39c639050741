#include "engine/write/row_table.h"

namespace jet::write {

std::uint32_t count_data_pages(const WriteFormat& format, const RowTable& rows) {
  RowPlacer placer(format);
  for (const std::uint32_t position : rows.order) placer.place(rows.size[position]);
  return static_cast<std::uint32_t>(placer.pages());
}

std::vector<RowPointer> new_places(const WriteFormat& format, const RowTable& rows,
                                   const std::vector<std::uint32_t>& data_pages) {
  std::vector<RowPointer> at(rows.old_at.size());
  RowPlacer placer(format);
  for (const std::uint32_t position : rows.order) {
    const auto [page, row] = placer.place(rows.size[position]);
    at[position] = RowPointer{data_pages.at(page), row};
  }
  return at;
}

}  // namespace jet::write
