#include "engine/format/jet_format.h"

namespace jet {
namespace {

constexpr JetFormat kJet3{
    .version = JetVersion::Jet3,
    .name = "Jet 3",
    .page_size = 2048,
    .version_byte = 0,
    .ace = false,

    .header_version_offset = 0x14,
    .header_masked_offset = 0x18,
    .header_masked_length = 126,
    .header_sort_order_offset = 0x3A,
    .header_sort_order_size = 2,
    .header_code_page_offset = 0x3C,
    .header_database_key_offset = 0x3E,
    .header_password_offset = 0x42,
    .header_password_size = 20,
    .header_creation_date_offset = -1,

    .page_type_offset = 0,
    .page_free_space_offset = 2,
    .page_owner_offset = 4,
    .data_row_count_offset = 8,
    .data_row_table_offset = 10,
    .max_rows_per_page = 255,
    .data_page_initial_free = 2048 - 10,

    .row_column_count_size = 1,
    .row_var_offset_size = 1,
    .row_has_jump_table = true,
    .max_row_size = 2012,

    .tdef_next_page_offset = 4,
    .tdef_header_size = 8,
    .tdef_length_offset = 8,
    .tdef_row_count_offset = 12,
    .tdef_autonumber_offset = 16,
    .tdef_table_type_offset = 20,
    .tdef_max_columns_offset = 21,
    .tdef_var_column_count_offset = 23,
    .tdef_column_count_offset = 25,
    .tdef_logical_index_count_offset = 27,
    .tdef_index_data_count_offset = 31,
    .tdef_owned_pages_offset = 35,
    .tdef_free_pages_offset = 39,
    .tdef_index_block_offset = 43,
    .tdef_index_count_entry_size = 8,
    .tdef_index_count_row_offset = 4,

    .column_descriptor_size = 18,
    .column_type_offset = 0,
    .column_number_offset = 1,
    .column_var_index_offset = 3,
    .column_id_offset = 5,
    .column_sort_order_offset = 9,
    .column_code_page_offset = 11,
    .column_precision_offset = 11,
    .column_scale_offset = 12,
    .column_complex_id_offset = -1,
    .column_flags_offset = 13,
    .column_ext_flags_offset = -1,
    .column_fixed_offset_offset = 14,
    .column_length_offset = 16,
    .name_length_size = 1,

    .index_data_entry_size = 39,
    .index_data_leading_skip = 0,
    .index_columns_per_entry = 10,
    .index_data_flags_skip = 0,
    .logical_index_entry_size = 20,
    .logical_index_leading_skip = 0,

    .index_prev_page_offset = 8,
    .index_next_page_offset = 12,
    .index_tail_page_offset = 16,
    .index_compressed_count_offset = 20,
    .index_entry_mask_offset = 22,
    .index_entry_mask_size = 226,

    .usage_map_inline_bytes = 128,
    .usage_map_page_header = 4,

    .long_value_header_size = 12,
    .max_inline_long_value = 64,
    .max_long_value_row = 2048 - 10 - 2 - 4,
    .max_compressed_unicode = 1024,

    .max_columns = 255,
    .max_indexes = 32,
    .max_name_length = 64,
};

constexpr JetFormat kJet4{
    .version = JetVersion::Jet4,
    .name = "Jet 4",
    .page_size = 4096,
    .version_byte = 1,
    .ace = false,

    .header_version_offset = 0x14,
    .header_masked_offset = 0x18,
    .header_masked_length = 128,
    .header_sort_order_offset = 0x6E,
    .header_sort_order_size = 4,
    .header_code_page_offset = 0x3C,
    .header_database_key_offset = 0x3E,
    .header_password_offset = 0x42,
    .header_password_size = 40,
    .header_creation_date_offset = 0x72,

    .page_type_offset = 0,
    .page_free_space_offset = 2,
    .page_owner_offset = 4,
    .data_row_count_offset = 12,
    .data_row_table_offset = 14,
    .max_rows_per_page = 255,
    .data_page_initial_free = 4096 - 14,

    .row_column_count_size = 2,
    .row_var_offset_size = 2,
    .row_has_jump_table = false,
    .max_row_size = 4060,

    .tdef_next_page_offset = 4,
    .tdef_header_size = 8,
    .tdef_length_offset = 8,
    .tdef_row_count_offset = 16,
    .tdef_autonumber_offset = 20,
    .tdef_table_type_offset = 40,
    .tdef_max_columns_offset = 41,
    .tdef_var_column_count_offset = 43,
    .tdef_column_count_offset = 45,
    .tdef_logical_index_count_offset = 47,
    .tdef_index_data_count_offset = 51,
    .tdef_owned_pages_offset = 55,
    .tdef_free_pages_offset = 59,
    .tdef_index_block_offset = 63,
    .tdef_index_count_entry_size = 12,
    .tdef_index_count_row_offset = 4,

    .column_descriptor_size = 25,
    .column_type_offset = 0,
    .column_number_offset = 5,
    .column_var_index_offset = 7,
    .column_id_offset = 9,
    .column_sort_order_offset = 11,
    .column_code_page_offset = -1,
    .column_precision_offset = 11,
    .column_scale_offset = 12,
    .column_complex_id_offset = 11,
    .column_flags_offset = 15,
    .column_ext_flags_offset = 16,
    .column_fixed_offset_offset = 21,
    .column_length_offset = 23,
    .name_length_size = 2,

    .index_data_entry_size = 52,
    .index_data_leading_skip = 4,
    .index_columns_per_entry = 10,
    .index_data_flags_skip = 4,
    .logical_index_entry_size = 28,
    .logical_index_leading_skip = 4,

    .index_prev_page_offset = 12,
    .index_next_page_offset = 16,
    .index_tail_page_offset = 20,
    .index_compressed_count_offset = 24,
    .index_entry_mask_offset = 27,
    .index_entry_mask_size = 453,

    .usage_map_inline_bytes = 64,
    .usage_map_page_header = 4,

    .long_value_header_size = 12,
    .max_inline_long_value = 64,
    .max_long_value_row = 4096 - 14 - 2 - 4,
    .max_compressed_unicode = 1024,

    .max_columns = 255,
    .max_indexes = 32,
    .max_name_length = 64,
};

// An ACE version: Jet 4's layout under another version byte (FORMAT.md,
// "ACE files", says how that was checked).
constexpr JetFormat ace(std::uint8_t version_byte, const char* name) {
  JetFormat f = kJet4;
  f.name = name;
  f.version_byte = version_byte;
  f.ace = true;
  return f;
}

constexpr JetFormat kAce12 = ace(2, "ACE 12");
constexpr JetFormat kAce14 = ace(3, "ACE 14");
constexpr JetFormat kAce15 = ace(4, "ACE 15");
constexpr JetFormat kAce16 = ace(5, "ACE 16");
constexpr JetFormat kAce17 = ace(6, "ACE 17");

}  // namespace

const JetFormat& jet3_format() { return kJet3; }
const JetFormat& jet4_format() { return kJet4; }

const JetFormat& ace_format(std::uint8_t version_byte) {
  const JetFormat* f = format_for_version_byte(version_byte);
  return f != nullptr && f->ace ? *f : kAce12;
}

const JetFormat* format_for_version_byte(std::uint8_t version) {
  switch (version) {
    case 0: return &kJet3;
    case 1: return &kJet4;
    case 2: return &kAce12;
    case 3: return &kAce14;
    case 4: return &kAce15;
    case 5: return &kAce16;
    case 6: return &kAce17;
    default: return nullptr;
  }
}

}  // namespace jet
