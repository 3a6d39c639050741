#include "engine/format/usage_map.h"

#include "engine/format/damaged.h"

namespace jet {
namespace {

void collect_bits(std::span<const std::uint8_t> bits, std::uint64_t first_page,
                  std::uint32_t page_count, std::vector<PageNumber>& out, std::size_t& beyond) {
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] == 0) continue;
    for (unsigned b = 0; b < 8; ++b) {
      if ((bits[i] & (1u << b)) == 0) continue;
      std::uint64_t page = first_page + i * 8 + b;
      if (page >= page_count) {
        ++beyond;
        continue;
      }
      out.push_back(static_cast<PageNumber>(page));
    }
  }
}

}  // namespace

std::vector<PageNumber> decode_usage_map(const JetFormat& f, std::span<const std::uint8_t> map,
                                         const PageSource& read_page, std::uint32_t page_count,
                                         std::size_t* beyond_file) {
  std::vector<PageNumber> pages;
  std::size_t beyond = 0;
  if (map.empty()) return pages;
  std::uint8_t type = map[0];
  if (type == kUsageMapInline) {
    std::uint32_t start = get_u32(map, 1);
    collect_bits(map.subspan(5), start, page_count, pages, beyond);
  } else if (type == kUsageMapReference) {
    std::uint32_t per_page = f.pages_per_map_page();
    for (std::size_t k = 0; 1 + 4 * k + 4 <= map.size(); ++k) {
      PageNumber map_page = get_u32(map, 1 + 4 * k);
      if (map_page == 0) continue;
      if (map_page >= page_count) damaged("usage map page " + std::to_string(map_page) + " is beyond the file");
      auto data = read_page(map_page);
      if ((*data)[0] != page_type::kUsageMap) {
        damaged("page " + std::to_string(map_page) + " is not a usage map page");
      }
      collect_bits(std::span<const std::uint8_t>(*data).subspan(f.usage_map_page_header),
                   std::uint64_t{per_page} * k, page_count, pages, beyond);
    }
  } else {
    damaged("unknown usage map type " + std::to_string(type));
  }
  if (beyond_file != nullptr) *beyond_file = beyond;
  return pages;
}

}  // namespace jet
