// Damaged indexes: a garbled index page, a stored key repeated in a unique
// index. Rows never depend on an index, so every row is kept and each
// index is built anew from the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "engine/check/check.h"
#include "engine/index/index_findings.h"
#include "engine/salvage/tests/repair_fixture.h"

namespace jet {
namespace {

using namespace repair_testing;

// A garbled index page: every row is kept and the index is built anew from
// the rows. In the General order the keys are ours; in another order, see
// below and RepairInItsOrder.
TEST_F(Repair, GarbledIndexPageKeepsEveryRow) {
  if (!take("wild", "w133.mdb")) GTEST_SKIP() << "sample database absent: " << original_;
  const auto garbled = garble_text_index(*source_, damaged_);
  ASSERT_TRUE(garbled);
  SCOPED_TRACE(garbled->first);
  EXPECT_TRUE(compact().losses.empty());
  expect_same_data_as_original();
}

// In another order the keys are formed as General's where the file's own
// entries show that order keys the text so (its ASCII text, in most orders):
// the copy keeps the order and every row.
TEST_F(Repair, GarbledIndexInAnotherOrderIsRebuiltInThatOrder) {
  if (!take("wild", "w017.mdb")) GTEST_SKIP() << "sample database absent: " << original_;
  const auto garbled = garble_text_index(*source_, damaged_);
  ASSERT_TRUE(garbled);
  compact();
  auto copy = open_db(compacted_);
  EXPECT_EQ(copy->header().sort_order, source_->header().sort_order);
  EXPECT_EQ(row_counts(*copy).at(garbled->first), row_counts(*source_).at(garbled->first));
}

// Found by fuzzing the compaction: a stored key of the catalog's unique
// (ParentId, Name) index overwritten with its neighbour's. The copy carries
// stored text keys, but a repeat in a unique index cannot be the rows' (their
// names differ), so both rows are keyed afresh: nothing is lost or logged
// and the copy keeps its index unique. The same for a user table's primary
// key on text. (In other collating orders: RepairInItsOrder.)
TEST_F(Repair, StoredKeyRepeatedInAUniqueIndexIsFormedAgain) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"wild", "w031.mdb", "MSysObjects"}, {"jet4", "testV2000.mdb", "MSysObjects"}, {"wild", "w133.mdb", "Customers"}};
  for (const auto& [folder, file, table] : cases) {
    SCOPED_TRACE(file + " " + table);
    if (!take(folder, file)) GTEST_SKIP() << "sample database absent: " << original_;
    const TableDef t = source_->table(table);
    const auto unique = std::find_if(t.index_data.begin(), t.index_data.end(), [&](const IndexData& d) {
      return index::detail::must_be_unique(t, d) && d.first_page != 0;
    });
    ASSERT_NE(unique, t.index_data.end());
    ASSERT_TRUE(repeat_stored_key(*source_, damaged_, t, *unique));
    bool repeat_found = false;
    for (const Finding& f : check_database(*open_db(damaged_)).findings) {
      repeat_found = repeat_found || f.message.find("share a key") != std::string::npos;
    }
    EXPECT_TRUE(repeat_found) << "the damage should be one our check sees";
    EXPECT_TRUE(compact().losses.empty());
    expect_same_data_as_original();
  }
}

}  // namespace
}  // namespace jet
