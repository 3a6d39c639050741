// Table definitions and rows read from the sample databases, and damaged
// copies of them that must fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "engine/error.h"
#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using testing::corpus_dir;
using testing::ScratchDir;

std::unique_ptr<Database> open_corpus(const std::string& relative) {
  OpenOptions o;
  o.password = "password";
  return Database::open((corpus_dir() / relative).string(), o);
}

std::vector<Row> all_rows(Database& db, const TableDef& t) {
  std::vector<Row> rows;
  db.scan_rows(t, [&](RowPointer, const Row& r) { rows.push_back(r); });
  return rows;
}

const Value& field(const TableDef& t, const Row& row, const std::string& column) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].name == column) return row[i];
  }
  throw std::runtime_error("no column " + column);
}

TEST(DatabaseRows, EveryTableOfEveryCorpusFileDecodes) {
  auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases absent under " << corpus_dir();
  for (const testing::CorpusFile& sample : files) {
    const std::filesystem::path& file = sample.path;
    SCOPED_TRACE(file.string());
    OpenOptions o;
    o.password = "password";
    o.cache_pages = 8;  // scans must work with a small cache, too
    auto db = Database::open(file.string(), o);
    for (const TableDef& t : db->tables()) {
      SCOPED_TRACE(t.name);
      std::size_t rows = 0;
      db->scan_rows(t, [&](RowPointer where, const Row& r) {
        ++rows;
        EXPECT_EQ(r.size(), t.columns.size());
        EXPECT_EQ(std::find(t.definition_pages.begin(), t.definition_pages.end(), where.page),
                  t.definition_pages.end()) << "row on a definition page";
      });
      // Access keeps user tables' counts exact; some system tables'
      // counts are stale in these files (seen by other readers as well).
      if (!t.is_system()) {
        EXPECT_EQ(rows, t.row_count);
      }
    }
  }
}

TEST(DatabaseRows, FixedTypesDecodeToKnownValuesInBothFormats) {
  for (const char* file : {"jet3/testV1997.mdb", "jet4/testV2003.mdb"}) {
    SCOPED_TRACE(file);
    QUILLMAR_REQUIRE_CORPUS(corpus_dir() / file);
    auto db = open_corpus(file);
    TableDef t = db->table("table1");  // the catalog says "Table1"
    EXPECT_EQ(t.name, "Table1");
    ASSERT_EQ(t.columns.size(), 9u);
    EXPECT_EQ(t.columns[8].type, ColumnType::Boolean);
    auto rows = all_rows(*db, t);
    ASSERT_EQ(rows.size(), 2u);
    auto full = std::find_if(rows.begin(), rows.end(),
                             [&](const Row& r) { return field(t, r, "A").text == u"abcdefg"; });
    ASSERT_NE(full, rows.end());
    EXPECT_EQ(field(t, *full, "B").text, u"hijklmnop");
    EXPECT_EQ(field(t, *full, "C").integer, 2);
    EXPECT_EQ(field(t, *full, "D").integer, 222);
    EXPECT_EQ(field(t, *full, "E").integer, 333333333);
    EXPECT_DOUBLE_EQ(field(t, *full, "F").real, 444.555);
    EXPECT_DOUBLE_EQ(field(t, *full, "G").real, 27293.0);
    EXPECT_EQ(field(t, *full, "H").integer, 35000);  // 3.5 in ten-thousandths
    EXPECT_EQ(field(t, *full, "I").integer, 1);
    // The primary key and the index on B, with their flags.
    ASSERT_EQ(t.indexes.size(), 2u);
    auto pk = std::find_if(t.indexes.begin(), t.indexes.end(), [](const Index& i) { return i.is_primary_key(); });
    ASSERT_NE(pk, t.indexes.end());
    EXPECT_EQ(pk->name, "PrimaryKey");
    const IndexData& pk_data = t.index_data.at(pk->index_data);
    EXPECT_TRUE(pk_data.is_unique());
    EXPECT_TRUE(pk_data.is_required());
    ASSERT_EQ(pk_data.columns.size(), 1u);
    EXPECT_EQ(pk_data.columns[0].column_number, 0);
    EXPECT_TRUE(pk_data.columns[0].ascending);
  }
}

TEST(DatabaseRows, LongValuesInAllThreeStorageFormsAreResolved) {
  for (const char* file : {"jet3/test2V1997.mdb", "jet4/test2V2000.mdb"}) {
    SCOPED_TRACE(file);
    QUILLMAR_REQUIRE_CORPUS(corpus_dir() / file);
    auto db = open_corpus(file);
    TableDef t = db->table("MSP_PROJECTS");
    std::set<std::uint8_t> kinds;
    db->scan_raw_rows(t, [&](RowPointer, std::span<const std::uint8_t> bytes) {
      auto fields = split_row(db->format(), t, bytes);
      Row row = db->decode_row(t, bytes);
      for (std::size_t c = 0; c < fields.size(); ++c) {
        if (!is_long_value(t.columns[c].type) || fields[c].null) continue;
        LongValueRef ref = parse_long_value_ref(fields[c].bytes);
        kinds.insert(ref.kind);
        if (t.columns[c].type == ColumnType::Ole) {
          EXPECT_EQ(row[c].bytes.size(), ref.length);
        }
      }
      const Value& author = field(t, row, "PROJ_PROP_AUTHOR");
      EXPECT_EQ(author.text.size(), 348u);
      EXPECT_EQ(author.text.substr(0, 8), u"Jon Iles");
      const Value& blob = field(t, row, "RESERVED_BINARY_DATA");
      ASSERT_EQ(blob.bytes.size(), 22970u);  // spread over chained long-value pages
      EXPECT_NE(std::search(blob.bytes.begin(), blob.bytes.end(), std::begin("Word.Document.8"),
                            std::end("Word.Document.8") - 1),
                blob.bytes.end());
    });
    EXPECT_EQ(kinds, (std::set<std::uint8_t>{kLongValueInline, kLongValueSingleRow, kLongValueChained}));
  }
}

TEST(DatabaseRows, CompressedUnicodeDeletedColumnsAndOverflowRows) {
  QUILLMAR_REQUIRE_CORPUS(corpus_dir() / "jet4/testUnicodeCompV2003.mdb");
  {
    auto db = open_corpus("jet4/testUnicodeCompV2003.mdb");
    TableDef t = db->table("Table");
    EXPECT_TRUE(t.columns[1].is_compressed_unicode());
    std::set<std::u16string> texts;
    for (const Row& r : all_rows(*db, t)) texts.insert(r[1].text);
    EXPECT_TRUE(texts.count(u"\u00E4\u00E4kk\u00F6si\u00E4"));
    EXPECT_TRUE(texts.count(u"\u6F22\u5B57\u4EEE\u540D\u4EA4\u3058\u308A\u6587"));
    EXPECT_TRUE(texts.count(u"\u041C\u0438\u0440"));
  }
  for (const char* file : {"jet3/delColTestV1997.mdb", "jet4/delColTestV2003.mdb"}) {
    SCOPED_TRACE(file);
    auto db = open_corpus(file);
    TableDef t = db->table("Table1");
    std::vector<std::string> names;
    for (const Column& c : t.columns) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"id", "id2", "data", "data2"}));
    auto rows = all_rows(*db, t);
    ASSERT_EQ(rows.size(), 2u);
    std::set<std::u16string> data2;
    for (const Row& r : rows) data2.insert(field(t, r, "data2").text);
    EXPECT_EQ(data2, (std::set<std::u16string>{u"foo2", u"bar2"}));
  }
  for (const char* file : {"jet3/overflowTestV1997.mdb", "jet4/overflowTestV2000.mdb"}) {
    SCOPED_TRACE(file);
    auto db = open_corpus(file);
    TableDef t = db->table("Table1");
    std::set<std::u16string> col9;
    std::size_t rows = 0;
    db->scan_rows(t, [&](RowPointer, const Row& r) {
      ++rows;
      if (!field(t, r, "data9").is_null) col9.insert(field(t, r, "data9").text);
    });
    EXPECT_EQ(rows, t.row_count);
    EXPECT_TRUE(col9.count(u"row3col9"));
  }
}

TEST(DatabaseRows, MemoryStaysWithinThePageCacheWhateverTheFileSize) {
  QUILLMAR_REQUIRE_CORPUS(corpus_dir() / "jet4/testV2003.mdb");
  OpenOptions o;
  o.cache_pages = 6;
  auto db = Database::open((corpus_dir() / "jet4/testV2003.mdb").string(), o);
  std::size_t rows = 0;
  for (const TableDef& t : db->tables()) {
    db->scan_rows(t, [&](RowPointer, const Row&) { ++rows; }, RowSource::kPageOwner);
    EXPECT_LE(db->cached_pages(), 6u);
  }
  EXPECT_GT(db->page_count(), 700u);  // the scans touched every page
  EXPECT_GT(rows, 100u);
}

TEST(DatabaseRows, UsageMapsListTheTablesDataPages) {
  QUILLMAR_REQUIRE_CORPUS(corpus_dir() / "jet4/testV2003.mdb");
  auto db = open_corpus("jet4/testV2003.mdb");
  TableDef t = db->table("Table1");
  ASSERT_FALSE(t.usage_map_owned.empty());
  auto pages = db->table_pages(t);
  std::set<PageNumber> row_pages;
  db->scan_rows(t, [&](RowPointer where, const Row&) { row_pages.insert(where.page); });
  for (PageNumber p : row_pages) EXPECT_NE(std::find(pages.begin(), pages.end(), p), pages.end());
  EXPECT_TRUE(std::is_sorted(pages.begin(), pages.end()));
  EXPECT_EQ(db->table("MSysObjects").definition_page, 2u);
}

TEST(DatabaseRows, ScanningByPageOwnerFindsRowsAnEmptiedUsageMapLost) {
  QUILLMAR_REQUIRE_CORPUS(corpus_dir() / "jet4/testV2003.mdb");
  auto db = open_corpus("jet4/testV2003.mdb");
  TableDef t = db->table("Table1");
  auto by_map = all_rows(*db, t);
  t.usage_map_owned.assign(t.usage_map_owned.size(), 0);  // as if the map were wiped
  EXPECT_TRUE(all_rows(*db, t).empty());
  std::vector<Row> by_owner;
  db->scan_rows(t, [&](RowPointer, const Row& r) { by_owner.push_back(r); }, RowSource::kPageOwner);
  EXPECT_EQ(by_owner, by_map);
}

TEST(DatabaseRows, UnknownTableNameIsAnError) {
  QUILLMAR_REQUIRE_CORPUS(corpus_dir() / "jet4/testV2003.mdb");
  auto db = open_corpus("jet4/testV2003.mdb");
  try {
    db->table("NoSuchTable");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3078);
    EXPECT_NE(e.description().find("NoSuchTable"), std::string::npos);
  }
}

TEST(DatabaseRows, DamageInARowNamesTheTableAndTheRow) {
  auto file = corpus_dir() / "jet4/testV2003.mdb";
  QUILLMAR_REQUIRE_CORPUS(file);
  Bytes bytes = testing::read_file(file);
  // Table1's rows are on page 27; point row 1's offset into the row table.
  bytes[27 * 4096 + 14 + 2] = 0x05;
  bytes[27 * 4096 + 14 + 3] = 0x00;
  ScratchDir dir;
  testing::write_file(dir / "bad-row.mdb", bytes);
  auto db = Database::open((dir / "bad-row.mdb").string());
  TableDef t = db->table("Table1");
  try {
    db->scan_rows(t, [](RowPointer, const Row&) {});
    FAIL() << "expected the damaged row to be reported";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::kCannotOpenDatabase);
    EXPECT_NE(e.description().find("bad-row.mdb"), std::string::npos);
    EXPECT_NE(e.source().find("table 'Table1', page 27 row 1"), std::string::npos) << e.source();
  }
  // Salvaging skips that row, reports it, and keeps the other.
  std::vector<RowPointer> good;
  std::vector<RowPointer> bad;
  db->salvage_rows(
      t, [&](RowPointer where, const Row&) { good.push_back(where); },
      [&](RowPointer where, const Error& e) {
        EXPECT_EQ(e.number(), errc::kCannotOpenDatabase);
        bad.push_back(where);
      });
  EXPECT_EQ(good, (std::vector<RowPointer>{{27, 0}}));
  EXPECT_EQ(bad, (std::vector<RowPointer>{{27, 1}}));
}

// Flips random bytes of real files: reading must either succeed or fail
// with a jet::Error; the sanitizers catch anything worse.
TEST(DatabaseRows, RandomDamageNeverCrashesOrHangs) {
  ScratchDir dir;
  for (const char* file : {"jet3/test2V1997.mdb", "jet4/test2V2000.mdb", "jet4/db-enc.mdb"}) {
    QUILLMAR_REQUIRE_CORPUS(corpus_dir() / file);
    const Bytes original = testing::read_file(corpus_dir() / file);
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
      Bytes copy = original;
      int flips = 1 + static_cast<int>(rng() % 64);
      // Keep the header intact in most rounds so the damage reaches the
      // catalog, definitions and rows rather than stopping at the magic.
      std::size_t from = round % 8 == 0 ? 0 : 4096;
      for (int k = 0; k < flips; ++k) {
        copy[from + rng() % (copy.size() - from)] = static_cast<std::uint8_t>(rng());
      }
      auto path = dir / ("damaged" + std::to_string(round) + ".mdb");
      testing::write_file(path, copy);
      try {
        auto db = Database::open(path.string());
        for (const CatalogEntry& e : db->catalog()) {
          if (!e.is_table()) continue;
          try {
            db->scan_rows(db->table_at(e.table_page(), e.name), [](RowPointer, const Row&) {});
          } catch (const Error& err) {
            EXPECT_NE(err.number(), 0);
          }
        }
      } catch (const Error& err) {
        EXPECT_NE(err.number(), 0);
      }
    }
  }
}

}  // namespace
}  // namespace jet
