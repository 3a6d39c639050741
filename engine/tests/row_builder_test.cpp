// Rows laid out by the row builder decode to the values they came from:
// every row of every sample table, decoded by the reader, built again and
// decoded again, must come back the same.
#include <gtest/gtest.h>

#include <map>

#include "engine/error.h"
#include "engine/format/row_layout.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"
#include "engine/write/little_endian.h"
#include "engine/write/row_builder.h"

namespace jet::write {
namespace {

// Long values kept in memory; the row holds a reference naming the slot.
struct LongValueShelf {
  std::vector<Bytes> values;
  Bytes store(const Bytes& v) {
    Bytes field(12, 0);
    put_u32(field, 0, static_cast<std::uint32_t>(v.size()));
    put_u32(field, 4, static_cast<std::uint32_t>(values.size()));
    values.push_back(v);
    return field;
  }
  Bytes load(std::span<const std::uint8_t> field) const {
    return values.at(field[4] | (field[5] << 8) | (field[6] << 16));
  }
};

struct RoundTrips {
  std::size_t rows = 0;
  std::size_t long_rows = 0;  // longer than 256 bytes
  std::size_t calculated = 0;  // rows with a calculated column
};

RoundTrips round_trip(const std::vector<testing::CorpusFile>& files) {
  RoundTrips done;
  for (const auto& file : files) {
    if (file.path.filename() == "db-enc.mdb") continue;
    OpenOptions o;
    o.password = file.password;
    std::unique_ptr<Database> db;
    try {
      db = Database::open(file.path.string(), o);
    } catch (const Error& e) {
      if (e.number() == 3031 && !file.password) continue;  // encrypted, password unknown
      throw;
    }
    for (const TableDef& t : db->tables()) {
      const bool calculated = std::any_of(t.columns.begin(), t.columns.end(), [](const Column& c) { return c.is_calculated(); });
      db->scan_rows(t, [&](RowPointer at, const Row& row) {
        LongValueShelf shelf;
        Bytes built;
        try {
          built = build_row(db->format(), t, row, db->header().code_page, [&](const Column&, const Bytes& v) { return shelf.store(v); });
        } catch (const Error& e) {
          ADD_FAILURE() << file.name() << " " << t.name << " row " << at.page << ":" << at.row << ": " << e.description();
          return;
        }
        Row back;
        try {
          back = decode_row(db->format(), t, built, db->header().code_page,
                            [&](std::span<const std::uint8_t> f) { return shelf.load(f); });
        } catch (const std::exception& e) {
          ADD_FAILURE() << file.name() << " " << t.name << " row " << at.page << ":" << at.row << " (" << built.size()
                        << " bytes) does not decode: " << e.what();
          return;
        }
        EXPECT_EQ(back, row) << file.name() << " " << t.name << " row " << at.page << ":" << at.row;
        ++done.rows;
        if (built.size() > 256) ++done.long_rows;
        if (calculated) ++done.calculated;
      });
    }
  }
  return done;
}

TEST(RowBuilder, SampleRowsRoundTrip) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
  const RoundTrips done = round_trip(files);
  EXPECT_GT(done.rows, 1000u);
  EXPECT_GT(done.long_rows, 0u) << "no row long enough to need the Jet 3 jump table";
}

// Complex ids, Large Numbers, Date/Time Extended values and calculated
// results (wrapped, Memo ones as long values) built again read back alike.
TEST(RowBuilder, AceSampleRowsRoundTrip) {
  const auto files = testing::ace_files();
  if (files.empty()) GTEST_SKIP() << "ACE sample databases not found under " << testing::shared_dir();
  const RoundTrips done = round_trip(files);
  EXPECT_GT(done.rows, 10000u);
  EXPECT_GT(done.calculated, 400u) << "the calculated columns' rows were not reached";
}

TEST(RowBuilder, RefusesValuesTheColumnCannotHold) {
  TableDef t;
  t.name = "T";
  Column text;
  text.name = "Name";
  text.type = ColumnType::Text;
  text.number = 0;
  text.length = 4;  // bytes: two UCS-2 characters
  text.flags = 0x02;
  t.columns.push_back(text);
  Row row(1);
  row[0].type = ColumnType::Text;
  row[0].is_null = false;
  row[0].text = u"far too long";
  EXPECT_THROW(build_row(jet4_format(), t, row, 1252, [](const Column&, const Bytes& b) { return b; }), Error);
  row[0].text = u"ok";
  const Bytes built = build_row(jet4_format(), t, row, 1252, [](const Column&, const Bytes& b) { return b; });
  EXPECT_EQ(decode_row(jet4_format(), t, built, 1252, [](std::span<const std::uint8_t>) { return Bytes{}; })[0].text, u"ok");
}

}  // namespace
}  // namespace jet::write
