// The writer's page builders, checked by reading what they build back.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "engine/error.h"
#include "engine/format/header_page.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/header_writer.h"
#include "engine/write/little_endian.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/table_definition_writer.h"
#include "engine/write/usage_map_builder.h"

namespace jet::write {
namespace {

Bytes pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

TEST(DataPageBuilder, RowsReadBackInOrderUntilThePageIsFull) {
  for (const WriteFormat& f : {WriteFormat::jet3_format(), WriteFormat::jet4_format()}) {
    DataPageBuilder page(f, 0x1234);
    std::vector<Bytes> rows;
    std::uint8_t seed = 0;
    while (page.fits(100)) {
      rows.push_back(pattern(100, seed++));
      EXPECT_EQ(page.add(rows.back()), rows.size() - 1);
    }
    // Full means: not even one more row's bytes plus its offset entry.
    EXPECT_LT(page.free_space(), 102u);
    EXPECT_EQ(page.free_space(), f.page_size - f.data_page_header_size() - rows.size() * 102);
    EXPECT_EQ(get_u16(page.page(), 2), page.free_space());
    EXPECT_EQ(get_u32(page.page(), 4), 0x1234u);
    const auto back = read_data_page_rows(f, page.page());
    ASSERT_EQ(back.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(back[i].bytes, rows[i]);
      EXPECT_FALSE(back[i].deleted);
    }
    EXPECT_THROW(page.add(pattern(200, 1)), Error);
  }
}

TEST(DataPageBuilder, NoMoreThanTheSlotLimitOfTinyRows) {
  const WriteFormat f = WriteFormat::jet4_format();
  DataPageBuilder page(f, 2);
  int added = 0;
  while (page.fits(1)) {
    page.add(Bytes{0x5A});
    ++added;
  }
  EXPECT_EQ(added, 255);
  // The largest row an empty page takes fills it exactly.
  DataPageBuilder big(f, 2);
  big.add(Bytes(DataPageBuilder::max_row_size(f), 0x11));
  EXPECT_EQ(big.free_space(), 0u);
}

// Page sets are kept as runs; pages arriving in any order, repeated or
// joining two runs, must give the same set an ordered set gives.
TEST(UsageMap, PageSetsHoldWhatOrderedSetsHold) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    PageSet runs;
    std::set<std::uint32_t> plain;
    std::uint32_t next = round * 3u;
    for (int i = 0; i < 300; ++i) {
      // Mostly ascending, as pages are handed out, with jumps back and repeats.
      const std::uint32_t page = random() % 4 == 0 ? static_cast<std::uint32_t>(random() % (next + 1)) : next++;
      runs.insert(page);
      plain.insert(page);
    }
    ASSERT_EQ(runs.to_set(), plain);
    EXPECT_EQ(runs.first(), *plain.begin());
    EXPECT_EQ(runs.last(), *plain.rbegin());
  }
  PageSet edges{0xFFFFFFFFu, 0u, 0xFFFFFFFEu};
  EXPECT_EQ(edges.to_set(), (std::set<std::uint32_t>{0, 0xFFFFFFFEu, 0xFFFFFFFFu}));
}

TEST(UsageMap, InlineMapsRoundTripAndKnowTheirReach) {
  const WriteFormat f = WriteFormat::jet4_format();
  const std::set<std::uint32_t> pages{700, 701, 702, 900, 1207};
  ASSERT_TRUE(fits_inline_map(f, pages));
  const Bytes row = build_inline_map(f, pages);
  EXPECT_EQ(row.size(), f.usage_map_row_size());
  EXPECT_EQ(row[0], 0x00);
  EXPECT_EQ(read_usage_map(f, row, [](std::uint32_t) -> Bytes { throw Error(3049, "no map pages here"); }), pages);
  EXPECT_EQ(read_usage_map(f, build_inline_map(f, {}), [](std::uint32_t) { return Bytes{}; }), std::set<std::uint32_t>{});

  const std::set<std::uint32_t> too_wide{8, 8 + f.inline_map_span()};
  EXPECT_FALSE(fits_inline_map(f, too_wide));
  EXPECT_THROW(build_inline_map(f, too_wide), Error);
}

TEST(UsageMap, ReferenceMapsSpreadOverBitmapPages) {
  for (const WriteFormat& f : {WriteFormat::jet3_format(), WriteFormat::jet4_format()}) {
    const std::uint32_t span = f.map_page_span();
    const std::set<std::uint32_t> pages{3, span - 1, span, 2 * span + 5};
    ASSERT_EQ(reference_map_pages_needed(f, pages), 3u);
    const ReferenceMap map = build_reference_map(f, pages, {40, 41, 42});
    EXPECT_EQ(map.row[0], 0x01);
    EXPECT_EQ(map.row.size(), f.usage_map_row_size());
    ASSERT_EQ(map.pages.size(), 3u);
    EXPECT_EQ(map.pages[0][0], 0x05);
    const auto load = [&](std::uint32_t p) { return map.pages.at(p - 40); };
    EXPECT_EQ(read_usage_map(f, map.row, load), pages);
    EXPECT_THROW(build_reference_map(f, pages, {40, 41}), Error);
  }
}

// Follows a long-value reference through the built pages like a reader.
Bytes follow(const WriteFormat& f, const std::map<std::uint32_t, Bytes>& pages, const LongValueReference& ref) {
  const Bytes r(ref.begin(), ref.end());
  const std::uint32_t head = get_u32(r, 0);
  std::uint32_t at = get_u32(r, 4);
  auto row = [&](std::uint32_t stored) {
    const auto rows = read_data_page_rows(f, pages.at(stored >> 8));
    return rows.at(stored & 0xFF).bytes;
  };
  if (head & kLongValueFlagSingleRow) return row(at);
  Bytes out;
  while (at != 0) {
    const Bytes piece = row(at);
    out.insert(out.end(), piece.begin() + 4, piece.end());
    at = get_u32(piece, 0);
  }
  EXPECT_EQ(out.size(), head & kLongValueLengthMask);
  return out;
}

TEST(LongValueWriter, SingleRowsAndChainsFillPagesAndReadBack) {
  for (const WriteFormat& f : {WriteFormat::jet3_format(), WriteFormat::jet4_format()}) {
    std::uint32_t next = 100;
    LongValueWriter writer(f, [&] { return next++; });
    const std::vector<Bytes> values{pattern(10, 1), pattern(f.max_long_value_row, 2), pattern(3 * f.page_size + 5, 3),
                                    pattern(f.max_long_value_row + 1, 4), pattern(300, 5)};
    std::vector<LongValueReference> refs;
    for (const Bytes& v : values) refs.push_back(writer.write(v));
    std::map<std::uint32_t, Bytes> pages;
    for (FinishedPage& p : writer.finish()) {
      EXPECT_EQ(get_u32(p.bytes, 4), kLongValueOwner);
      pages.emplace(p.number, std::move(p.bytes));
    }
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(follow(f, pages, refs[i]), values[i]) << "value " << i;
    // The pages used are consecutive and, but for the last, nearly full.
    EXPECT_EQ(pages.begin()->first, 100u);
    EXPECT_EQ(pages.rbegin()->first, 100u + pages.size() - 1);
    std::size_t stored = 0;
    for (const Bytes& v : values) stored += v.size();
    EXPECT_LE(pages.size(), stored / (f.page_size - 64) + 2);
    EXPECT_THROW(writer.write(Bytes{}), Error);
  }
}

// With a sink, pages leave the writer as soon as no later value can touch
// them (a chain's links are filled in first) and hold what they would hold
// without one.
TEST(LongValueWriter, SinkReceivesFinishedPagesEarly) {
  const WriteFormat f = WriteFormat::jet4_format();
  const std::vector<Bytes> values{pattern(3000, 1), pattern(5 * f.page_size, 2), pattern(40, 3), pattern(9000, 4)};
  std::uint32_t next_kept = 10;
  LongValueWriter kept(f, [&] { return next_kept++; });
  std::uint32_t next_sunk = 10;
  std::map<std::uint32_t, Bytes> sunk;
  LongValueWriter sinking(f, [&] { return next_sunk++; }, [&](FinishedPage p) {
    EXPECT_TRUE(sunk.emplace(p.number, std::move(p.bytes)).second) << "page " << p.number << " handed over twice";
  });
  for (const Bytes& v : values) {
    EXPECT_EQ(kept.write(v), sinking.write(v));
  }
  EXPECT_GE(sunk.size(), 5u) << "pages wait for finish()";
  EXPECT_TRUE(sinking.finish().empty());
  std::map<std::uint32_t, Bytes> expected;
  for (FinishedPage& p : kept.finish()) expected.emplace(p.number, std::move(p.bytes));
  EXPECT_EQ(sunk, expected);
}

// A Jet 4 definition with one column, one physical and one logical index and
// one column usage-map record, laid out as the format has it.
Bytes sample_definition(std::size_t padding) {
  const WriteFormat f = WriteFormat::jet4_format();
  Bytes d(f.tdef_blocks_at, 0);
  d[0] = 0x02;
  d[1] = 0x01;
  put_u16(d, f.tdef_col_count_at, 1);
  put_u32(d, f.tdef_index_count_at, 1);
  put_u32(d, f.tdef_real_index_count_at, 1);
  d.resize(d.size() + f.real_index_info_size + f.column_size, 0);
  const std::u16string name = u"Memo";
  d.push_back(static_cast<std::uint8_t>(name.size() * 2));
  d.push_back(0);
  for (char16_t c : name) {
    d.push_back(static_cast<std::uint8_t>(c));
    d.push_back(0);
  }
  d.resize(d.size() + f.real_index_size + f.logical_index_size, 0);
  put_u32(d, d.size() - f.logical_index_size + f.logical_index_related_table_at, 77);
  d.push_back(4);  // index name "ab", UCS-2
  d.push_back(0);
  d.insert(d.end(), {'a', 0, 'b', 0});
  d.insert(d.end(), {5, 0, 1, 1, 0, 0, 2, 1, 0, 0});  // column 5 maps
  d.insert(d.end(), {0xFF, 0xFF});
  d.resize(d.size() + padding, 0);
  put_u32(d, 8, static_cast<std::uint32_t>(d.size() - 8));
  return d;
}

TEST(TableDefinitionWriter, PatchesOnlyWhereThingsMoved) {
  const WriteFormat f = WriteFormat::jet4_format();
  const Bytes d = sample_definition(0);
  const TableDefinitionLayout l = scan_table_definition(f, d);
  EXPECT_EQ(l.real_index_count, 1u);
  EXPECT_EQ(l.logical_index_count, 1u);
  EXPECT_EQ(l.column_map_columns, std::vector<std::uint16_t>{5});

  TableDefinitionUpdate u;
  u.row_count = 12;
  u.next_autonumber = 13;
  u.owned_map = {6, 0};
  u.free_map = {6, 1};
  u.index_row_counts = {11};
  u.index_roots = {21};
  u.index_maps = {{6, 2}};
  u.column_owned_maps = {{6, 3}};
  u.column_free_maps = {{6, 4}};
  u.table_ids = {{77, 9}};
  const Bytes p = patch_table_definition(f, d, l, u);
  ASSERT_EQ(p.size(), d.size());
  EXPECT_EQ(get_u32(p, f.tdef_row_count_at), 12u);
  EXPECT_EQ(get_u32(p, f.tdef_autonumber_at), 13u);
  EXPECT_EQ(get_u32(p, f.tdef_owned_map_at), 0x600u);
  EXPECT_EQ(get_u32(p, f.tdef_free_map_at), 0x601u);
  EXPECT_EQ(get_u32(p, f.tdef_blocks_at + f.real_index_info_rows_at), 11u);
  EXPECT_EQ(get_u32(p, l.real_indexes_at + f.real_index_map_at), 0x602u);
  EXPECT_EQ(get_u32(p, l.real_indexes_at + f.real_index_first_page_at), 21u);
  EXPECT_EQ(get_u32(p, l.logical_indexes_at + f.logical_index_related_table_at), 9u);
  EXPECT_EQ(get_u32(p, l.column_maps_at + 2), 0x603u);
  EXPECT_EQ(get_u32(p, l.column_maps_at + 6), 0x604u);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < d.size(); ++i) changed += d[i] != p[i];
  EXPECT_LE(changed, 10u * 4);

  u.index_roots.clear();
  EXPECT_THROW(patch_table_definition(f, d, l, u), Error);
  Bytes truncated(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(l.logical_indexes_at + 3));
  EXPECT_THROW(scan_table_definition(f, truncated), Error);
}

TEST(TableDefinitionWriter, LongDefinitionsSplitOverLinkedPages) {
  for (const WriteFormat& f : {WriteFormat::jet3_format(), WriteFormat::jet4_format()}) {
    const Bytes d = sample_definition(2 * f.page_size);
    const std::uint32_t n = table_definition_page_count(f, d);
    ASSERT_EQ(n, 3u);
    const std::vector<Bytes> pages = split_table_definition(f, d, {10, 11, 12});
    EXPECT_EQ(get_u32(pages[0], 4), 11u);
    EXPECT_EQ(get_u32(pages[1], 4), 12u);
    EXPECT_EQ(get_u32(pages[2], 4), 0u);
    EXPECT_EQ(pages[2][0], 0x02);
    Bytes joined = join_table_definition(f, pages);
    joined.resize(d.size());
    Bytes expected = d;
    put_u32(expected, 4, 11);  // the first page's link is part of the definition bytes
    if (f.jet4) put_u16(expected, 2, 0);
    EXPECT_EQ(joined, expected);
    if (f.jet4) {
      // The last page records how much of it is unused.
      const std::size_t used_on_last = d.size() - f.page_size - (f.page_size - 8) + 8;
      EXPECT_EQ(get_u16(pages[2], 2), f.page_size - used_on_last);
    }
    EXPECT_THROW(split_table_definition(f, d, {10, 11}), Error);
  }
  const WriteFormat f = WriteFormat::jet4_format();
  EXPECT_EQ(table_definition_page_count(f, sample_definition(0)), 1u);
}

TEST(HeaderWriter, NewPasswordIsStoredUnderTheMasksAndReadsBack) {
  const JetFormat& format = jet4_format();
  HeaderInfo source;
  source.format = &format;
  source.unmasked.assign(format.page_size, 0);
  const char magic[] = "\x00\x01\x00\x00Standard Jet DB";
  std::copy(magic, magic + sizeof magic - 1, source.unmasked.begin());
  source.unmasked[0x14] = 1;
  const double date = 45123.5;
  std::memcpy(source.unmasked.data() + format.header_creation_date_offset, &date, sizeof date);
  source.unmasked[format.header_sort_order_offset] = 0x09;
  source.unmasked[format.header_sort_order_offset + 1] = 0x04;

  const Bytes page = build_header_page(source, std::u16string(u"s3cret"));
  HeaderInfo back;
  ASSERT_TRUE(parse_header_page(page.data(), page.size(), "mem", back));
  EXPECT_EQ(back.password, u"s3cret");
  EXPECT_EQ(back.sort_order, 0x0409u);
  EXPECT_DOUBLE_EQ(back.creation_date, date);

  const Bytes kept = build_header_page(back, std::nullopt);
  EXPECT_EQ(kept, page);
  EXPECT_THROW(build_header_page(source, std::u16string(21, u'x')), Error);
}

TEST(HeaderWriter, FreePageMapMarksOnlyPagesBeyondTheEnd) {
  const WriteFormat f = WriteFormat::jet4_format();
  DataPageBuilder source(f, 1);
  Bytes old_map(f.usage_map_row_size(), 0xFF);
  old_map[0] = 0;
  source.add(old_map);
  source.add(Bytes(f.usage_map_row_size(), 0));
  const Bytes page = build_free_page_map_page(f, source.page(), 20);
  const auto rows = read_data_page_rows(f, page);
  ASSERT_EQ(rows.size(), 2u);
  const auto free = read_usage_map(f, rows[0].bytes, [](std::uint32_t) { return Bytes{}; });
  EXPECT_EQ(*free.begin(), 20u);
  EXPECT_EQ(free.size(), f.inline_map_span() - 20);
  EXPECT_EQ(rows[1].bytes, Bytes(f.usage_map_row_size(), 0));
}

}  // namespace
}  // namespace jet::write
