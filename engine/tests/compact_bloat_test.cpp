// Compaction of files bloated the way Access bloats them: rows deleted in
// place (slots marked, index entries removed, pages kept). The copy must
// drop exactly the deleted rows, shrink, and keep everything else.
#include <gtest/gtest.h>

#include <map>

#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/read/database.h"
#include "engine/tests/access_style_delete.h"
#include "engine/tests/compact_audit.h"
#include "engine/tests/corpus_files.h"
#include "engine/write/little_endian.h"
#include "engine/write/write_format.h"

namespace jet {
namespace {

using testing::ScratchDir;

std::map<std::string, std::uint64_t> live_rows(Database& db) {
  std::map<std::string, std::uint64_t> out;
  for (const TableDef& t : db.tables()) {
    std::uint64_t n = 0;
    db.scan_raw_rows(t, [&](RowPointer, std::span<const std::uint8_t>) { ++n; });
    out[t.name] = n;
  }
  return out;
}

struct BloatCase {
  std::string folder;
  std::string file;
};

void PrintTo(const BloatCase& c, std::ostream* os) { *os << c.folder << "/" << c.file; }

class CompactBloated : public ::testing::TestWithParam<BloatCase> {};

TEST_P(CompactBloated, DeletedRowsAreGoneAndTheRestIsKept) {
  const auto sample = testing::corpus_file(GetParam().folder, GetParam().file);
  if (!sample) GTEST_SKIP() << "sample " << GetParam().file << " not found under " << testing::shared_dir();
  ScratchDir dir;
  const auto bloated = dir / "bloated.mdb";
  std::filesystem::copy_file(sample->path, bloated);

  // Every user table loses every other row; the first one loses all.
  std::vector<std::string> user_tables;
  {
    auto db = Database::open(bloated.string());
    for (const TableDef& t : db->tables()) {
      if (!t.is_system()) user_tables.push_back(t.name);
    }
  }
  ASSERT_FALSE(user_tables.empty());
  std::size_t deleted = 0;
  for (std::size_t i = 0; i < user_tables.size(); ++i) {
    deleted += write_testing::delete_rows_like_access(
        bloated, user_tables[i], [&](const Row&, std::size_t n) { return i == 0 || n % 2 == 0; });
  }
  ASSERT_GT(deleted, 0u);

  auto before = Database::open(bloated.string());
  const auto expected_rows = live_rows(*before);
  const Bytes bloated_bytes = testing::read_file(bloated);

  CompactRequest r;
  r.source_path = bloated.string();
  r.destination_path = (dir / "compacted.mdb").string();
  compact_database(r);
  EXPECT_EQ(testing::read_file(bloated), bloated_bytes);

  auto after = Database::open(r.destination_path);
  EXPECT_EQ(live_rows(*after), expected_rows);
  EXPECT_LT(std::filesystem::file_size(r.destination_path), bloated_bytes.size());
  for (const TableDef& t : after->tables()) {
    EXPECT_EQ(t.row_count, expected_rows.at(t.name)) << t.name;
    for (const Column& c : t.columns) {
      if (!c.is_autonumber() || c.type != ColumnType::Long) continue;
      std::int64_t largest = 0;
      const auto at = static_cast<std::size_t>(&c - t.columns.data());
      after->scan_rows(t, [&](RowPointer, const Row& row) {
        if (!row[at].is_null) largest = std::max(largest, row[at].integer);
      });
      const write::WriteFormat f = write::WriteFormat::for_version(after->version() == JetVersion::Jet4);
      EXPECT_EQ(write::get_u32(t.raw, f.tdef_autonumber_at), static_cast<std::uint32_t>(largest + 1))
          << t.name << ": AutoNumber seed";
    }
  }
  write_testing::audit_compacted(*after, *before);

  if (!std::filesystem::exists(testing::jetdiff_tool())) GTEST_SKIP() << "jetdiff not found; data not compared";
  const int diff = testing::run_jetdiff(bloated, r.destination_path, std::nullopt, dir / "jetdiff.log");
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  const Bytes log = testing::read_file(dir / "jetdiff.log");
  EXPECT_EQ(diff, 0) << std::string(log.begin(), log.end());
}

INSTANTIATE_TEST_SUITE_P(Samples, CompactBloated,
                         ::testing::Values(BloatCase{"jet3", "indexTestV1997.mdb"}, BloatCase{"jet3", "testV1997.mdb"},
                                           BloatCase{"jet4", "indexTestV2000.mdb"},
                                           BloatCase{"jet4", "bigIndexTestV2003.mdb"},
                                           BloatCase{"jet4", "overflowTestV2003.mdb"}),
                         [](const ::testing::TestParamInfo<BloatCase>& param) {
                           std::string n = param.param.folder + "_" + param.param.file;
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return n;
                         });

}  // namespace
}  // namespace jet
