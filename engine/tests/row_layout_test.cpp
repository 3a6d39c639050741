// Row layouts built byte by byte: the Jet 3 jump table (with and without
// its filler entry), columns added after a row was written, and broken rows.
#include <gtest/gtest.h>

#include <string>

#include "engine/format/damaged.h"
#include "engine/format/row_layout.h"

namespace jet {
namespace {

// A table of one fixed Long (column 0) and `var_columns` Text columns.
TableDef table_with(std::size_t var_columns) {
  TableDef t;
  Column id;
  id.name = "id";
  id.type = ColumnType::Long;
  id.flags = 0x01;
  t.columns.push_back(id);
  for (std::size_t i = 0; i < var_columns; ++i) {
    Column c;
    c.name = "t" + std::to_string(i);
    c.type = ColumnType::Text;
    c.number = static_cast<std::uint16_t>(i + 1);
    c.var_index = static_cast<std::uint16_t>(i);
    c.length = 255;
    t.columns.push_back(c);
  }
  t.var_column_count = static_cast<std::uint16_t>(var_columns);
  return t;
}

// A Jet 3 row: count, the Long 7, the texts, then end offset, offsets,
// jump table, variable count and null mask, laid out as Jet 3 does.
Bytes jet3_row(const std::vector<std::string>& texts) {
  Bytes row{static_cast<std::uint8_t>(texts.size() + 1), 7, 0, 0, 0};
  std::vector<std::size_t> offsets;
  for (const auto& s : texts) {
    offsets.push_back(row.size());
    row.insert(row.end(), s.begin(), s.end());
  }
  offsets.push_back(row.size());  // end of data
  std::size_t mask_size = (texts.size() + 1 + 7) / 8;
  std::size_t length = row.size() + offsets.size() + 1 + mask_size;
  std::size_t jumps = 0;
  while ((length + jumps - 1) / 256 > jumps) ++jumps;
  length += jumps;
  // Offsets, last (end of data) first.
  for (std::size_t i = offsets.size(); i-- > 0;) row.push_back(static_cast<std::uint8_t>(offsets[i] & 0xFF));
  // Jump entries, last first; unused ones are 0xFF fillers.
  std::vector<std::uint8_t> jump(jumps, 0xFF);
  for (std::size_t j = 0; j < jumps; ++j) {
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      if (offsets[i] >= 256 * (j + 1)) {
        jump[j] = static_cast<std::uint8_t>(i);
        break;
      }
    }
  }
  for (std::size_t j = jumps; j-- > 0;) row.push_back(jump[j]);
  row.push_back(static_cast<std::uint8_t>(texts.size()));
  for (std::size_t k = 0; k < mask_size; ++k) row.push_back(0xFF);
  EXPECT_EQ(row.size(), length);
  return row;
}

std::string text_of(const RawField& f) { return std::string(f.bytes.begin(), f.bytes.end()); }

TEST(Jet3Row, JumpTableCarriesOffsetsPast255Bytes) {
  TableDef t = table_with(3);
  std::vector<std::string> texts{std::string(200, 'a'), std::string(100, 'b'), std::string(10, 'c')};
  Bytes row = jet3_row(texts);
  ASSERT_GT(row.size(), 256u);
  auto fields = split_row(jet3_format(), t, row);
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0].bytes.size(), 4u);
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(text_of(fields[i + 1]), texts[i]);
}

TEST(Jet3Row, FillerJumpEntryIsIgnoredWhenDataEndsBelow256) {
  TableDef t = table_with(12);
  std::vector<std::string> texts(12, std::string(20, 'x'));
  texts[11] = "last" + std::string(16, 'z');
  Bytes row = jet3_row(texts);  // data ends at 245, the trailer pushes the row past 256
  ASSERT_GT(row.size(), 256u);
  ASSERT_EQ(row[row.size() - 4], 0xFF);  // the one jump entry is a filler
  auto fields = split_row(jet3_format(), t, row);
  EXPECT_EQ(text_of(fields[12]), texts[11]);
  EXPECT_EQ(text_of(fields[1]), std::string(20, 'x'));
}

TEST(Jet4Row, ColumnsAddedAfterTheRowWasWrittenReadAsNull) {
  // A row written when the table had the Long and one Text: count 2.
  Bytes row{2, 0, 9, 0, 0, 0, 'h', 0, 'i', 0};
  std::size_t eod = row.size();
  row.insert(row.end(), {static_cast<std::uint8_t>(eod), 0, 6, 0, 1, 0, 0x03});
  TableDef t = table_with(2);
  Column late_fixed;
  late_fixed.name = "late";
  late_fixed.type = ColumnType::Integer;
  late_fixed.flags = 0x01;
  late_fixed.number = 3;
  late_fixed.fixed_offset = 4;
  t.columns.push_back(late_fixed);
  auto fields = split_row(jet4_format(), t, row);
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_FALSE(fields[0].null);
  EXPECT_EQ(fields[1].bytes.size(), 4u);  // "hi" in UCS-2
  EXPECT_TRUE(fields[2].null);            // second text: not in this row
  EXPECT_TRUE(fields[3].null);            // fixed column added later
  Row values = decode_row(jet4_format(), t, row, 1252, [](std::span<const std::uint8_t>) { return Bytes{}; });
  EXPECT_EQ(values[0].integer, 9);
  EXPECT_EQ(values[1].text, u"hi");
}

TEST(RowLayout, BrokenRowsAreDamageNotOutOfBoundsReads) {
  TableDef t = table_with(1);
  // Offsets pointing past the row, a variable count larger than the row,
  // a row too short for its own null mask.
  Bytes past_end{2, 0, 1, 0, 0, 0, 200, 0, 6, 0, 1, 0, 0x03};
  Bytes huge_count{2, 0, 1, 0, 0, 0, 6, 0, 6, 0, 0xFF, 0x7F, 0x03};
  Bytes tiny{0xFF, 0x00};
  for (const Bytes& row : {past_end, huge_count, tiny}) {
    EXPECT_THROW(split_row(jet4_format(), t, row), DamagedData);
  }
  Bytes jet3_short{5, 1};
  EXPECT_THROW(split_row(jet3_format(), t, jet3_short), DamagedData);
  // A field starting inside the one before it, the NULL column between
  // them hiding the step back: the two would share bytes.
  TableDef three = table_with(3);
  Bytes overlap = jet3_row({"abcdef", "", "xyz"});
  overlap[15] = 7;             // the third text's offset, back into the first
  overlap.back() = 0xFB;       // the second text NULL
  EXPECT_THROW(split_row(jet3_format(), three, overlap), DamagedData);
  // A long-value header shorter than 12 bytes.
  EXPECT_THROW(parse_long_value_ref(Bytes(8, 0)), DamagedData);
}

}  // namespace
}  // namespace jet
