#include "engine/write/table_definition_writer.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/write/little_endian.h"

namespace jet::write {

namespace {

constexpr std::uint32_t kContinuationHeader = 8;  // type, flag, 2 bytes, next-page link
constexpr std::uint32_t kNextPageAt = 4;
constexpr std::uint32_t kEndOfColumnMaps = 0xFFFF;
constexpr std::uint32_t kColumnMapRecordSize = 10;  // column number, owned map, free map

[[noreturn]] void damaged() {
  throw Error(errc::kCannotOpenDatabase, "Damaged table definition: its parts run past its end.");
}

void need(const Bytes& b, std::size_t at, std::size_t n) {
  if (at + n > b.size()) damaged();
}

std::uint32_t ref(const MapReference& m) { return row_reference(m.page, m.row); }

}  // namespace

TableDefinitionLayout scan_table_definition(const WriteFormat& format, const Bytes& d) {
  TableDefinitionLayout l;
  need(d, format.tdef_blocks_at, 0);
  const std::uint32_t columns = get_u16(d, format.tdef_col_count_at);
  l.logical_index_count = get_u32(d, format.tdef_index_count_at);
  l.real_index_count = get_u32(d, format.tdef_real_index_count_at);
  if (l.logical_index_count > 1000 || l.real_index_count > 1000) damaged();
  std::size_t at = format.tdef_blocks_at + std::size_t{l.real_index_count} * format.real_index_info_size;
  at += std::size_t{columns} * format.column_size;
  for (std::uint32_t i = 0; i < columns; ++i) {
    need(d, at, format.name_length_size);
    const std::uint32_t len = format.name_length_size == 2 ? get_u16(d, at) : d[at];
    at += format.name_length_size + len;
  }
  l.real_indexes_at = static_cast<std::uint32_t>(at);
  at += std::size_t{l.real_index_count} * format.real_index_size;
  l.logical_indexes_at = static_cast<std::uint32_t>(at);
  at += std::size_t{l.logical_index_count} * format.logical_index_size;
  for (std::uint32_t i = 0; i < l.logical_index_count; ++i) {
    need(d, at, format.name_length_size);
    const std::uint32_t len = format.name_length_size == 2 ? get_u16(d, at) : d[at];
    at += format.name_length_size + len;
  }
  need(d, at, 0);
  l.column_maps_at = static_cast<std::uint32_t>(at);
  // The column map list ends with 0xFFFF; a definition may end right at it.
  while (at + 2 <= d.size()) {
    const std::uint32_t column = get_u16(d, at);
    if (column == kEndOfColumnMaps) break;
    need(d, at, kColumnMapRecordSize);
    l.column_map_columns.push_back(static_cast<std::uint16_t>(column));
    at += kColumnMapRecordSize;
  }
  l.column_map_count = static_cast<std::uint32_t>(l.column_map_columns.size());
  return l;
}

Bytes patch_table_definition(const WriteFormat& format, const Bytes& definition, const TableDefinitionLayout& l,
                             const TableDefinitionUpdate& u) {
  Bytes d = definition;
  if (u.index_row_counts.size() != l.real_index_count || u.index_roots.size() != l.real_index_count ||
      u.index_maps.size() != l.real_index_count || u.column_owned_maps.size() != l.column_map_count ||
      u.column_free_maps.size() != l.column_map_count) {
    throw Error(errc::kCannotOpenDatabase, "Internal error: table definition update does not match the definition.");
  }
  put_u32(d, format.tdef_row_count_at, u.row_count);
  put_u32(d, format.tdef_autonumber_at, u.next_autonumber);
  put_u32(d, format.tdef_owned_map_at, ref(u.owned_map));
  put_u32(d, format.tdef_free_map_at, ref(u.free_map));
  for (std::uint32_t i = 0; i < l.real_index_count; ++i) {
    put_u32(d, format.tdef_blocks_at + i * format.real_index_info_size + format.real_index_info_rows_at,
            u.index_row_counts[i]);
    const std::uint32_t desc = l.real_indexes_at + i * format.real_index_size;
    put_u32(d, desc + format.real_index_map_at, ref(u.index_maps[i]));
    put_u32(d, desc + format.real_index_first_page_at, u.index_roots[i]);
  }
  for (std::uint32_t i = 0; i < l.logical_index_count; ++i) {
    const std::uint32_t at = l.logical_indexes_at + i * format.logical_index_size + format.logical_index_related_table_at;
    const auto it = u.table_ids.find(get_u32(d, at));
    if (it != u.table_ids.end()) put_u32(d, at, it->second);
  }
  for (std::uint32_t i = 0; i < l.column_map_count; ++i) {
    const std::uint32_t at = l.column_maps_at + i * kColumnMapRecordSize;
    put_u32(d, at + 2, ref(u.column_owned_maps[i]));
    put_u32(d, at + 6, ref(u.column_free_maps[i]));
  }
  return d;
}

std::uint32_t table_definition_page_count(const WriteFormat& format, const Bytes& definition) {
  if (definition.size() <= format.page_size) return 1;
  const std::size_t rest = definition.size() - format.page_size;
  const std::size_t per_page = format.page_size - kContinuationHeader;
  return static_cast<std::uint32_t>(1 + (rest + per_page - 1) / per_page);
}

std::vector<Bytes> split_table_definition(const WriteFormat& format, const Bytes& definition,
                                          const std::vector<std::uint32_t>& pages) {
  if (pages.size() != table_definition_page_count(format, definition) || definition.size() < kContinuationHeader) {
    throw Error(errc::kCannotOpenDatabase, "Internal error: wrong page count for a table definition.");
  }
  std::vector<Bytes> out;
  std::size_t at = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    Bytes page(format.page_size, 0);
    std::size_t into = 0;
    if (i == 0) {
      const std::size_t n = std::min<std::size_t>(definition.size(), format.page_size);
      std::copy(definition.begin(), definition.begin() + static_cast<std::ptrdiff_t>(n), page.begin());
      at = n;
      into = n;
    } else {
      std::copy(definition.begin(), definition.begin() + 4, page.begin());  // type, flag, signature
      const std::size_t n = std::min<std::size_t>(definition.size() - at, format.page_size - kContinuationHeader);
      std::copy(definition.begin() + static_cast<std::ptrdiff_t>(at),
                definition.begin() + static_cast<std::ptrdiff_t>(at + n), page.begin() + kContinuationHeader);
      at += n;
      into = kContinuationHeader + n;
    }
    put_u32(page, kNextPageAt, i + 1 < pages.size() ? pages[i + 1] : 0);
    // Jet 4 keeps each definition page's unused byte count where Jet 3 has
    // its two signature letters.
    if (format.jet4) put_u16(page, 2, static_cast<std::uint32_t>(format.page_size - into));
    out.push_back(std::move(page));
  }
  return out;
}

Bytes join_table_definition(const WriteFormat& format, const std::vector<Bytes>& pages) {
  Bytes d;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (pages[i].size() != format.page_size) damaged();
    const std::size_t skip = i == 0 ? 0 : kContinuationHeader;
    d.insert(d.end(), pages[i].begin() + static_cast<std::ptrdiff_t>(skip), pages[i].end());
  }
  return d;
}

}  // namespace jet::write
