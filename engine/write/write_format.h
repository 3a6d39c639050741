#pragma once
// Where things sit on the pages the writer lays out, per format version.
// Jet 3 (Access 97) uses 2 KB pages and narrower counters; Jet 4 (Access
// 2000-2003) uses 4 KB pages. WRITE_FORMAT.md explains each field.
#include <cstdint>

namespace jet::write {

struct WriteFormat {
  bool jet4 = true;
  std::uint32_t page_size = 4096;

  // Data pages (also long-value and usage-map pages).
  std::uint32_t data_rows_count_at = 12;    // row count (2 bytes)
  std::uint32_t data_row_table_at = 14;     // first row-offset entry
  std::uint32_t max_rows_per_page = 255;

  // Usage-map rows: type byte, start page, then a bitmap of this many bytes.
  std::uint32_t usage_bitmap_bytes = 64;

  // Table definition.
  std::uint32_t tdef_row_count_at = 16;
  std::uint32_t tdef_autonumber_at = 20;
  std::uint32_t tdef_col_count_at = 45;
  std::uint32_t tdef_index_count_at = 47;     // logical indexes
  std::uint32_t tdef_real_index_count_at = 51;
  std::uint32_t tdef_owned_map_at = 55;
  std::uint32_t tdef_free_map_at = 59;
  std::uint32_t tdef_blocks_at = 63;          // per-real-index row counts start here
  std::uint32_t real_index_info_size = 12;    // row-count block per real index
  std::uint32_t real_index_info_rows_at = 4;
  std::uint32_t column_size = 25;
  std::uint32_t name_length_size = 2;         // bytes of a name's length prefix
  std::uint32_t real_index_size = 52;
  std::uint32_t real_index_map_at = 34;       // usage map of the index's pages
  std::uint32_t real_index_first_page_at = 38;
  std::uint32_t logical_index_size = 28;
  std::uint32_t logical_index_related_table_at = 17;

  // Index pages.
  std::uint32_t index_entries_at = 0x1E0;

  // Long values: largest piece one long-value row may hold.
  std::uint32_t max_long_value_row = 4076;  // a chained piece also spends 4 bytes on the link
  std::uint32_t max_inline_long_value = 64;

  static WriteFormat jet3_format();
  static WriteFormat jet4_format();
  static WriteFormat for_version(bool is_jet4) { return is_jet4 ? jet4_format() : jet3_format(); }

  std::uint32_t data_page_header_size() const { return data_row_table_at; }
  std::uint32_t usage_map_row_size() const { return 5 + usage_bitmap_bytes; }
  // Pages one inline usage map can describe.
  std::uint32_t inline_map_span() const { return usage_bitmap_bytes * 8; }
  // Pages one page of a reference usage map can describe.
  std::uint32_t map_page_span() const { return (page_size - 4) * 8; }
};

inline WriteFormat WriteFormat::jet4_format() { return WriteFormat{}; }

inline WriteFormat WriteFormat::jet3_format() {
  WriteFormat f;
  f.jet4 = false;
  f.page_size = 2048;
  f.data_rows_count_at = 8;
  f.data_row_table_at = 10;
  f.usage_bitmap_bytes = 128;
  f.tdef_row_count_at = 12;
  f.tdef_autonumber_at = 16;
  f.tdef_col_count_at = 25;
  f.tdef_index_count_at = 27;
  f.tdef_real_index_count_at = 31;
  f.tdef_owned_map_at = 35;
  f.tdef_free_map_at = 39;
  f.tdef_blocks_at = 43;
  f.real_index_info_size = 8;
  f.real_index_info_rows_at = 4;
  f.column_size = 18;
  f.name_length_size = 1;
  f.real_index_size = 39;
  f.real_index_map_at = 30;
  f.real_index_first_page_at = 34;
  f.logical_index_size = 20;
  f.logical_index_related_table_at = 13;
  f.index_entries_at = 0xF8;
  f.max_long_value_row = 2032;
  return f;
}

}  // namespace jet::write
