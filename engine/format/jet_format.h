#pragma once
// Everything that differs between the on-disk versions we handle, in one
// object per version. ACE files (Access 2007 and later) keep Jet 4's page
// layout, so their objects are Jet 4's with the version byte and the
// column kinds each ACE version added. Code asks the format object for an offset or size
// instead of branching on the version. Offsets are in bytes from the start
// of the page (or of the structure named in the comment). FORMAT.md explains
// the structures.
#include <cstddef>
#include <cstdint>

namespace jet {

// The page layout family. ACE files use the Jet 4 layout.
enum class JetVersion : std::uint8_t {
  Jet3 = 0,  // Access 97: 2 KB pages, single-byte text in the database code page
  Jet4 = 1,  // Access 2000 and later: 4 KB pages, UCS-2 text (optionally compressed)
};

struct JetFormat {
  JetVersion version;
  const char* name;
  std::uint32_t page_size;
  std::uint8_t version_byte = 0;             // header byte 0x14: 0 Jet 3, 1 Jet 4, 2-6 ACE
  bool ace = false;                          // "Standard ACE DB": Office encryption, complex columns

  // ---- header page (page 0)
  std::uint32_t header_version_offset;       // byte: 0 Jet 3, 1 Jet 4, 2+ newer (not ours)
  std::uint32_t header_masked_offset;        // start of the RC4-masked region
  std::uint32_t header_masked_length;        // its length
  std::uint32_t header_sort_order_offset;    // database collating order
  std::uint32_t header_sort_order_size;      // 2 (Jet 3) or 4 (Jet 4) bytes
  std::uint32_t header_code_page_offset;     // 2 bytes
  std::uint32_t header_database_key_offset;  // 4 bytes; non-zero: pages are RC4-encrypted
  std::uint32_t header_password_offset;
  std::uint32_t header_password_size;        // 20 bytes (Jet 3), 40 bytes = 20 UCS-2 (Jet 4)
  std::int32_t header_creation_date_offset;  // 8-byte date, -1 when the format has none

  // ---- every page after the header
  std::uint32_t page_type_offset;            // byte 0 of every page
  std::uint32_t page_free_space_offset;      // data/LVAL page: 2 bytes of free space
  std::uint32_t page_owner_offset;           // data page: owning table-definition page
  std::uint32_t data_row_count_offset;       // data page: number of row slots (2 bytes)
  std::uint32_t data_row_table_offset;       // data page: first 2-byte row offset
  std::uint32_t max_rows_per_page;
  std::uint32_t data_page_initial_free;      // free space of an empty data page

  // ---- rows
  std::uint32_t row_column_count_size;       // 1 or 2 bytes
  std::uint32_t row_var_offset_size;         // var-table entries and EOD: 1 or 2 bytes
  bool row_has_jump_table;                   // Jet 3: 1-byte offsets extended by a jump table
  std::uint32_t max_row_size;

  // ---- table definition (offsets within the joined definition)
  std::uint32_t tdef_next_page_offset;       // page link of the definition chain
  std::uint32_t tdef_header_size;            // bytes of each continuation page before its data
  std::uint32_t tdef_length_offset;          // 4 bytes: length of the definition
  std::uint32_t tdef_row_count_offset;
  std::uint32_t tdef_autonumber_offset;      // next AutoNumber value
  std::uint32_t tdef_table_type_offset;      // 0x4E user, 0x53 system
  std::uint32_t tdef_max_columns_offset;     // column count including deleted ones
  std::uint32_t tdef_var_column_count_offset;
  std::uint32_t tdef_column_count_offset;
  std::uint32_t tdef_logical_index_count_offset;
  std::uint32_t tdef_index_data_count_offset;   // physical indexes
  std::uint32_t tdef_owned_pages_offset;        // 4-byte row pointer to the owned-pages map
  std::uint32_t tdef_free_pages_offset;         // 4-byte row pointer to the free-space map
  std::uint32_t tdef_index_block_offset;        // first per-physical-index count entry
  std::uint32_t tdef_index_count_entry_size;    // per physical index: row count (+ padding)
  std::uint32_t tdef_index_count_row_offset;    // row count inside that entry

  // ---- column descriptor (offsets within one descriptor)
  std::uint32_t column_descriptor_size;
  std::uint32_t column_type_offset;
  std::uint32_t column_number_offset;
  std::uint32_t column_var_index_offset;
  std::uint32_t column_id_offset;            // second copy of the column number
  std::uint32_t column_sort_order_offset;    // text: collating order (2 bytes)
  std::int32_t column_code_page_offset;      // Jet 3 text: code page (2 bytes), -1 none
  std::uint32_t column_precision_offset;     // Numeric
  std::uint32_t column_scale_offset;
  std::int32_t column_complex_id_offset;     // ACE complex column: its ComplexID (4 bytes), -1 none
  std::uint32_t column_flags_offset;
  std::int32_t column_ext_flags_offset;      // Jet 4: 0x01 compressed Unicode; -1 none
  std::uint32_t column_fixed_offset_offset;
  std::uint32_t column_length_offset;
  std::uint32_t name_length_size;            // 1 (Jet 3) or 2 (Jet 4) bytes before each name

  // ---- index descriptors in the definition
  std::uint32_t index_data_entry_size;       // physical index descriptor
  std::uint32_t index_data_leading_skip;     // bytes before its column list
  std::uint32_t index_columns_per_entry;     // always 10 slots of (2-byte column, 1-byte order)
  std::uint32_t index_data_flags_skip;       // bytes between the first-page field and the flags
  std::uint32_t logical_index_entry_size;
  std::uint32_t logical_index_leading_skip;  // bytes before the index number

  // ---- index pages
  std::uint32_t index_prev_page_offset;
  std::uint32_t index_next_page_offset;
  std::uint32_t index_tail_page_offset;
  std::uint32_t index_compressed_count_offset;  // shared-prefix byte count
  std::uint32_t index_entry_mask_offset;
  std::uint32_t index_entry_mask_size;

  // ---- usage maps
  std::uint32_t usage_map_inline_bytes;      // bitmap bytes of a freshly made inline map
  std::uint32_t usage_map_page_header;       // bytes before the bitmap on a map page (type 5)

  // ---- long values (Memo, OLE)
  std::uint32_t long_value_header_size;      // the 12 bytes stored in the row
  std::uint32_t max_inline_long_value;       // largest value kept inside the row
  std::uint32_t max_long_value_row;          // largest single LVAL row
  std::uint32_t max_compressed_unicode;      // text longer than this is never compressed

  // ---- limits
  std::uint32_t max_columns;
  std::uint32_t max_indexes;
  std::uint32_t max_name_length;

  bool text_is_ucs2() const { return version == JetVersion::Jet4; }
  // Number of pages one map page covers in a reference-type usage map.
  std::uint32_t pages_per_map_page() const { return (page_size - usage_map_page_header) * 8; }
};

const JetFormat& jet3_format();
const JetFormat& jet4_format();
// The ACE formats: version byte 2 (Access 2007), 3 (2010), 4 (2013; Access
// itself writes 3 there, other tools write 4), 5 (2016), 6 (2019 and later).
const JetFormat& ace_format(std::uint8_t version_byte);
// The format for the version byte of a header, or null for any other value.
const JetFormat* format_for_version_byte(std::uint8_t version);

// Page types (byte 0 of a page).
namespace page_type {
inline constexpr std::uint8_t kHeader = 0x00;
inline constexpr std::uint8_t kData = 0x01;
inline constexpr std::uint8_t kTableDefinition = 0x02;
inline constexpr std::uint8_t kIndexNode = 0x03;
inline constexpr std::uint8_t kIndexLeaf = 0x04;
inline constexpr std::uint8_t kUsageMap = 0x05;
}  // namespace page_type

}  // namespace jet
