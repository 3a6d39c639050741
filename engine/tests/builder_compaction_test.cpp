// Compacting bloated files made by the builder: a database that lost 90% of
// its rows the way Access loses them compacts to (nearly) the size of the
// same database built with only the surviving rows.
#include <gtest/gtest.h>

#include "engine/builder/database_builder.h"
#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/read/database.h"
#include "engine/tests/access_style_delete.h"
#include "engine/tests/builder_test_support.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using builder_testing::customer_row;
using builder_testing::customers_design;
using testing::ScratchDir;

constexpr int kRows = 2000;
bool survives(int n) { return n % 10 == 7; }

std::uint64_t compacted_size(const std::filesystem::path& source, const std::filesystem::path& destination) {
  CompactRequest request;
  request.source_path = source.string();
  request.destination_path = destination.string();
  const CompactResult result = compact_database(request);
  EXPECT_EQ(result.bytes_after, std::filesystem::file_size(destination));
  return result.bytes_after;
}

std::vector<Row> customers(const std::filesystem::path& file) {
  auto db = Database::open(file.string());
  std::vector<Row> out;
  db->scan_rows(db->table("Customers"), [&](RowPointer, const Row& r) { out.push_back(r); });
  return out;
}

// The survivors alone, with the AutoNumbers they had in the full build.
std::filesystem::path build_survivors_only(const ScratchDir& dir) {
  const auto path = dir / "survivors.mdb";
  build::DatabaseBuilder b(path.string());
  const std::size_t t = b.add_table(customers_design());
  for (int n = 0; n < kRows; ++n) {
    if (survives(n)) b.append_row(t, customer_row(n, n + 1));
  }
  b.finish();
  return path;
}

TEST(BuilderCompaction, NinetyPercentDeletedInPlaceCompactsLikeTheSurvivorsAlone) {
  ScratchDir dir;
  const auto full = dir / "full.mdb";
  {
    build::DatabaseBuilder b(full.string());
    const std::size_t t = b.add_table(customers_design());
    for (int n = 0; n < kRows; ++n) b.append_row(t, customer_row(n));
    b.finish();
  }
  const std::size_t deleted = write_testing::delete_rows_like_access(
      full, "Customers", [](const Row& r, std::size_t) { return !survives(static_cast<int>(r[0].integer - 1)); });
  ASSERT_EQ(deleted, static_cast<std::size_t>(kRows - kRows / 10));
  const std::uint64_t bloated = std::filesystem::file_size(full);

  const auto survivors = build_survivors_only(dir);
  const std::uint64_t from_bloated = compacted_size(full, dir / "full-compacted.mdb");
  const std::uint64_t from_survivors = compacted_size(survivors, dir / "survivors-compacted.mdb");
  RecordProperty("bloated_bytes", std::to_string(bloated));
  RecordProperty("compacted_bytes", std::to_string(from_bloated));
  RecordProperty("survivors_compacted_bytes", std::to_string(from_survivors));
  EXPECT_LT(from_bloated * 4, bloated) << "compaction must give the space back";
  EXPECT_LE(static_cast<double>(from_bloated), 1.1 * static_cast<double>(from_survivors))
      << "bloated source compacted to " << from_bloated << " bytes, survivors alone to " << from_survivors;
  EXPECT_EQ(customers(dir / "full-compacted.mdb"), customers(survivors));
}

TEST(BuilderCompaction, RowsLeftDeletedByTheBuilderCompactAway) {
  ScratchDir dir;
  const auto full = dir / "full.mdb";
  {
    build::DatabaseBuilder b(full.string());
    const std::size_t t = b.add_table(customers_design());
    for (int n = 0; n < kRows; ++n) {
      b.append_row(t, customer_row(n), survives(n) ? build::RowFate::kLive : build::RowFate::kDeleted);
    }
    b.finish();
  }
  const auto survivors = build_survivors_only(dir);
  const std::uint64_t from_bloated = compacted_size(full, dir / "full-compacted.mdb");
  const std::uint64_t from_survivors = compacted_size(survivors, dir / "survivors-compacted.mdb");
  EXPECT_LE(static_cast<double>(from_bloated), 1.1 * static_cast<double>(from_survivors));
  EXPECT_EQ(customers(dir / "full-compacted.mdb"), customers(survivors));
  auto db = Database::open((dir / "full-compacted.mdb").string());
  EXPECT_EQ(db->table("Customers").row_count, static_cast<std::uint32_t>(kRows / 10));
}

// Past a few hundred pages a usage map no longer fits its row and lists
// bitmap pages instead; those of index and long-value maps must count as the
// table's, so a large compacted file checks without a single finding.
TEST(BuilderCompaction, LargeTablesWithReferenceMapsCheckClean) {
  ScratchDir dir;
  const auto full = dir / "large.mdb";
  {
    build::DatabaseBuilder b(full.string());
    const std::size_t t = b.add_table(customers_design());
    for (int n = 0; n < 3 * kRows; ++n) b.append_row(t, customer_row(n));
    b.finish();
  }
  const auto compacted = dir / "large-compacted.mdb";
  compacted_size(full, compacted);
  auto db = Database::open(compacted.string());
  ASSERT_GT(db->page_count(), 1200u) << "too small to need reference maps";
  const CheckReport report = check_database(*db);
  for (const Finding& f : report.findings) ADD_FAILURE() << f.kind << " [" << f.table << "] page " << f.page << ": " << f.message;
}

}  // namespace
}  // namespace jet
