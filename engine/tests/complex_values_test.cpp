// The join behind complex columns, over every ACE sample: each complex
// column finds its hidden table through MSysComplexColumns, the table is of
// a known shape, and every hidden row lands under exactly one row of the
// table holding the column (its parent id is a complex id that table uses).
#include <gtest/gtest.h>

#include <set>

#include "engine/error.h"
#include "engine/read/complex_values.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

TEST(ComplexValues, EveryHiddenRowBelongsToOneValueOfItsColumn) {
  const auto files = testing::ace_files();
  if (files.empty()) GTEST_SKIP() << "ACE sample databases not found under " << testing::shared_dir();
  std::size_t columns = 0, values = 0;
  std::map<ComplexKind, std::size_t> kinds;
  for (const auto& file : files) {
    std::unique_ptr<Database> db;
    try {
      db = Database::open(file.path.string());
    } catch (const Error& e) {
      if (e.number() == 3031) continue;  // encrypted, password unknown
      throw;
    }
    for (const TableDef& t : db->tables()) {
      const auto complex = read_complex_values(*db, t);
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i].type != ColumnType::Complex) continue;
        SCOPED_TRACE(file.name() + " " + t.name + "." + t.columns[i].name);
        const auto found = complex.find(i);
        ASSERT_NE(found, complex.end()) << "no hidden table";
        const ComplexColumnValues& c = found->second;
        ++columns;
        ++kinds[c.kind];
        // The one hidden table of an unknown shape is the sample made for it.
        if (c.kind == ComplexKind::kOther) continue;
        std::set<std::int32_t> ids;
        db->scan_rows(t, [&](RowPointer, const Row& row) {
          if (row[i].is_null) return;
          EXPECT_TRUE(ids.insert(static_cast<std::int32_t>(row[i].integer)).second) << "a complex id twice";
        });
        std::size_t reached = 0;
        for (const auto& [id, list] : c.values) {
          EXPECT_TRUE(ids.count(id)) << "hidden rows of complex id " << id << ", which no row holds";
          reached += list.size();
        }
        std::size_t hidden_rows = 0;
        db->scan_rows(db->table(c.hidden_table), [&](RowPointer, const Row&) { ++hidden_rows; });
        EXPECT_EQ(reached, hidden_rows);
        values += reached;
      }
    }
  }
  std::printf("[ complex  ] %zu complex columns (%zu attachments, %zu of several values, %zu version histories), "
              "%zu values\n",
              columns, kinds[ComplexKind::kAttachments], kinds[ComplexKind::kValues], kinds[ComplexKind::kVersionHistory],
              values);
  EXPECT_GT(kinds[ComplexKind::kVersionHistory], 0u);
  EXPECT_GT(kinds[ComplexKind::kValues], 0u);
}

}  // namespace
}  // namespace jet
