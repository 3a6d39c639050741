// Rebuilding after rows move: keying afresh and carrying keys over must give
// the same tree, and it must match what the original index held.
#include "engine/index/index_rebuild.h"

#include <gtest/gtest.h>

#include <map>

#include "engine/index/index_tree_reader.h"
#include "engine/index/tests/corpus_files.h"
#include "engine/read/database.h"

namespace jet::index {
namespace {

TEST(IndexRebuild, CarryOverRepointsDropsAndResorts) {
  const std::vector<IndexEntry> old{{Bytes{0x7F, 1}, RowPointer{9, 0}, 0},
                                    {Bytes{0x7F, 1}, RowPointer{9, 1}, 0},
                                    {Bytes{0x7F, 2}, RowPointer{8, 0}, 0}};
  // Rows of page 9 swap places on the new page 3; row 8:0 was deleted.
  const auto moved = carry_over_entries(old, [](RowPointer r) -> std::optional<RowPointer> {
    if (r.page == 8) return std::nullopt;
    return RowPointer{3, static_cast<std::uint16_t>(1 - r.row)};
  });
  const std::vector<IndexEntry> expected{{Bytes{0x7F, 1}, RowPointer{3, 0}, 0}, {Bytes{0x7F, 1}, RowPointer{3, 1}, 0}};
  EXPECT_EQ(moved, expected);
}

// For every index of a few sample files: rows renumbered as if compaction
// packed them onto new pages; keying them afresh and carrying the stored
// keys over give identical trees, with the count Access keeps.
TEST(IndexRebuild, FreshKeysAndCarriedKeysAgreeOnSampleFiles) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
  std::size_t compared = 0;
  for (const auto& path : files) {
    if (path.filename() != "indexTestV2003.mdb" && path.filename() != "testIndexCodesV1997.mdb" &&
        path.filename() != "bigIndexTestV2000.mdb") {
      continue;
    }
    SCOPED_TRACE(path.string());
    auto db = Database::open(path.string());
    const Format format = db->version() == JetVersion::Jet3 ? Format::Jet3 : Format::Jet4;
    for (const TableDef& t : db->tables()) {
      std::map<RowPointer, RowPointer> new_place;
      std::vector<std::pair<RowPointer, Row>> rows;
      db->scan_rows(t, [&](RowPointer r, const Row& row) {
        const RowPointer n{static_cast<PageNumber>(500 + rows.size() / 20), static_cast<std::uint16_t>(rows.size() % 20)};
        new_place[r] = n;
        rows.emplace_back(n, row);
      });
      for (const IndexData& idx : t.index_data) {
        IndexRebuilder fresh(t, idx, format);
        if (!fresh.can_key()) continue;
        for (const auto& [where, row] : rows) fresh.add_row(where, row);
        PageNumber next_a = 1000, next_b = 1000;
        const BuiltIndex a = fresh.build(t.definition_page, [&] { return next_a++; });

        const IndexTree old = read_index_tree([&](PageNumber n) { return db->read_page(n); }, idx.first_page, format);
        const auto carried = carry_over_entries(old.entries, [&](RowPointer r) -> std::optional<RowPointer> {
          auto it = new_place.find(r);
          if (it == new_place.end()) return std::nullopt;
          return it->second;
        });
        const BuiltIndex b = build_index_tree(carried, format, t.definition_page, [&] { return next_b++; });
        ASSERT_EQ(a.pages.size(), b.pages.size()) << t.name;
        for (std::size_t i = 0; i < a.pages.size(); ++i) EXPECT_EQ(a.pages[i].bytes, b.pages[i].bytes) << t.name;
        EXPECT_EQ(a.entries, old.entries.size());
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 20u);
}

}  // namespace
}  // namespace jet::index
