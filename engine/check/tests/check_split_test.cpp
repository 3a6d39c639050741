// The check split over threads gives the report of the walk on one thread,
// finding for finding, however the pages are cut: with long-value chains,
// pages claimed twice and unreadable pages on either side of a cut, and
// when no second handle on the file can be opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <set>

#include "engine/builder/database_builder.h"
#include "engine/check/check.h"
#include "engine/check/page_ledger.h"
#include "engine/check/shared_work.h"
#include "engine/check/tests/check_both_ways.h"
#include "engine/error.h"
#include "engine/file/fault_injection_env.h"
#include "engine/file/memory_env.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/read/database.h"
#include "engine/tests/builder_test_support.h"
#include "engine/tests/corpus_samples.h"

namespace {

using jet::PageNumber;
using jet::RowPointer;
using quillmar_test::check_both_ways;
using quillmar_test::report_lines;
using quillmar_test::split_into;

TEST(CheckSplit, SampleDatabasesGiveTheSameReportSplitOrNot) {
  QUILLMAR_REQUIRE_CORPUS();
  for (const auto& f : quillmar_test::corpus_files()) {
    SCOPED_TRACE(f.path.string());
    auto db = quillmar_test::open_sample(f);
    check_both_ways(*db);
  }
}

// Two tables of the same design, Customers' rows first, then Suppliers',
// each with Memo and OLE values inline, on one long-value row and chained
// over several pages.
class CheckSplitBuilt : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = scratch_.path() / "two.mdb";
    jet::build::DatabaseBuilder b(path_.string());
    auto design = jet::builder_testing::customers_design();
    const std::size_t customers = b.add_table(design);
    design.name = "Suppliers";
    const std::size_t suppliers = b.add_table(design);
    for (int n = 1; n <= 120; ++n) b.append_row(customers, jet::builder_testing::customer_row(n));
    for (int n = 1; n <= 120; ++n) b.append_row(suppliers, jet::builder_testing::customer_row(n));
    b.finish();
    bytes_ = quillmar_test::read_bytes(path_);
    db_ = jet::Database::open(path_.string());
  }

  struct LongValueField {
    PageNumber row_page = 0;
    std::size_t at = 0;  // byte offset of the field's 12-byte header in the file
    jet::LongValueRef ref;
  };

  // The Notes values of `table` stored outside their rows (of one kind, if
  // given), in row order.
  std::vector<LongValueField> notes(const std::string& table, int kind = -1) {
    const jet::JetFormat& f = db_->format();
    const jet::TableDef t = db_->table(table);
    std::vector<LongValueField> out;
    db_->scan_raw_rows(t, [&](RowPointer where, std::span<const std::uint8_t> row) {
      const jet::RowSlot slot = jet::data_page_slot(f, *db_->page(where.page), where.row);
      if (slot.overflow) return;
      const auto fields = jet::split_row(f, t, row);
      for (std::size_t c = 0; c < fields.size(); ++c) {
        if (t.columns[c].name != "Notes" || fields[c].null) continue;
        const jet::LongValueRef ref = jet::parse_long_value_ref(fields[c].bytes);
        if (ref.kind == jet::kLongValueInline || (kind >= 0 && ref.kind != kind)) continue;
        out.push_back({where.page,
                       std::size_t{where.page} * db_->page_size() + slot.start +
                           static_cast<std::size_t>(fields[c].bytes.data() - row.data()),
                       ref});
      }
    });
    return out;
  }

  jet::CheckReport check_patched() {
    quillmar_test::write_bytes(path_, bytes_);
    auto db = jet::Database::open(path_.string());
    return check_both_ways(*db);
  }

  static std::vector<jet::Finding> errors(const jet::CheckReport& r, const std::string& kind) {
    std::vector<jet::Finding> out;
    for (const auto& f : r.findings) {
      if (f.severity == jet::Severity::Error && f.kind == kind) out.push_back(f);
    }
    return out;
  }

  quillmar_test::ScratchDir scratch_;
  quillmar_test::fs::path path_;
  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<jet::Database> db_;
};

TEST_F(CheckSplitBuilt, ChainsThatCrossACutGiveTheSameCleanReport) {
  // With cuts every five pages, some chain must start in another stretch
  // than its row, or the test proves nothing.
  bool crosses = false;
  for (const auto& v : notes("Customers")) {
    crosses |= jet::decode_row_pointer(v.ref.row_pointer).page / 5 != v.row_page / 5;
  }
  ASSERT_TRUE(crosses);
  const jet::CheckReport r = check_patched();
  EXPECT_EQ(r.error_count(), 0u) << report_lines(r).front();
  const auto& rows = r.live_rows;
  EXPECT_NE(std::find(rows.begin(), rows.end(), std::pair<std::string, std::uint64_t>{"Customers", 120}), rows.end());
  EXPECT_NE(std::find(rows.begin(), rows.end(), std::pair<std::string, std::uint64_t>{"Suppliers", 120}), rows.end());
}

TEST_F(CheckSplitBuilt, PagesClaimedByTwoTablesAreReportedAsThePageOrderHasIt) {
  // A Suppliers row takes over the value of a Customers row, and a
  // Customers row that of a Suppliers row: each long-value page is then
  // claimed by both tables, first by the Customers row, which comes first
  // in the file, though a thread may walk the Suppliers rows first.
  const auto customers = notes("Customers", jet::kLongValueSingleRow);
  const auto suppliers = notes("Suppliers", jet::kLongValueSingleRow);
  ASSERT_GE(customers.size(), 2u);
  ASSERT_GE(suppliers.size(), 2u);
  const LongValueField& taken_by_supplier = customers.front();
  const LongValueField& taken_by_customer = suppliers.back();
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(taken_by_supplier.at), 12,
              bytes_.begin() + static_cast<std::ptrdiff_t>(suppliers.front().at));
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(taken_by_customer.at), 12,
              bytes_.begin() + static_cast<std::ptrdiff_t>(customers.back().at));
  const jet::CheckReport r = check_patched();
  const auto found = errors(r, "page-owner");
  std::set<PageNumber> pages;
  for (const auto& f : found) {
    pages.insert(f.page);
    EXPECT_EQ(f.message, "claimed by both the long values of table 'Customers' and the long values of table 'Suppliers'");
  }
  // Each Suppliers value on the page the Customers row claimed conflicts.
  EXPECT_EQ(pages, (std::set<PageNumber>{jet::decode_row_pointer(taken_by_supplier.ref.row_pointer).page,
                                         jet::decode_row_pointer(taken_by_customer.ref.row_pointer).page}));
  EXPECT_EQ(r.error_count(), found.size()) << ::testing::PrintToString(report_lines(r));

  // Whichever thread gets there first, the report does not change.
  auto db = jet::Database::open(path_.string());
  for (int run = 0; run < 5; ++run) EXPECT_EQ(report_lines(jet::check_database(*db, split_into(2))), report_lines(r));
}

TEST_F(CheckSplitBuilt, UnreadablePageOnAChainGivesTheSameFindingsSplitOrNot) {
  // A page of a chain whose row lies in another stretch, read by the chain
  // on one thread and visited by the walk on another.
  PageNumber bad = 0;
  for (const auto& v : notes("Suppliers")) {
    const PageNumber first = jet::decode_row_pointer(v.ref.row_pointer).page;
    if (v.ref.kind == jet::kLongValueChained && first / 5 != v.row_page / 5) bad = first;
  }
  ASSERT_NE(bad, 0u) << "no chain that starts away from its row";
  jet::FaultInjectionEnv env(jet::default_env());
  jet::OpenOptions options;
  options.env = &env;
  auto db = jet::Database::open(path_.string(), options);
  env.fail_read_page(bad, db->page_size());
  const jet::CheckReport r = check_both_ways(*db);
  EXPECT_FALSE(errors(r, "page").empty());
  EXPECT_FALSE(errors(r, "long-value").empty());
}

TEST_F(CheckSplitBuilt, WithoutASecondHandleTheCallersHandleWalksAlone) {
  // The file under the open handle is replaced: no sibling can be opened,
  // so the one handle takes every stretch.
  jet::MemoryEnv env;
  env.put("two.mdb", bytes_);
  jet::OpenOptions options;
  options.env = &env;
  auto db = jet::Database::open("two.mdb", options);
  auto grown = bytes_;
  grown.resize(grown.size() + db->page_size(), 0);
  env.put("two.mdb", grown);
  EXPECT_THROW(db->open_sibling(), jet::Error);
  const jet::CheckReport alone = jet::check_database(*db, quillmar_test::on_one_thread());
  EXPECT_EQ(alone.error_count(), 0u);
  EXPECT_EQ(report_lines(jet::check_database(*db, split_into(3, 2))), report_lines(alone));
}

TEST(LongValueClaims, ReplayPutsEachClaimBetweenTheFindingsAroundIt) {
  const std::vector<std::string> names{"A", "B"};
  jet::check::PageLedger ledger(10, names);
  jet::CheckReport walked;
  jet::check::LongValueClaims log;
  auto finding = [&](const std::string& message) {
    jet::Finding f;
    f.message = message;
    walked.findings.push_back(f);
  };
  log.claim(4, 0, walked);
  finding("first");
  log.claim(4, 1, walked);  // conflicts: reported after "first"
  log.claim(4, 1, walked);  // and again, counted rather than kept twice
  finding("second");
  log.claim(5, 0, walked);
  log.claim(4, 0, walked);  // the owner again: nothing to report
  EXPECT_EQ(log.entries().size(), 4u);

  jet::CheckReport report;
  ledger.replay(log, std::move(walked.findings), report);
  std::vector<std::string> messages;
  for (const auto& f : report.findings) messages.push_back(f.message);
  const std::string both = "claimed by both the long values of table 'A' and the long values of table 'B'";
  EXPECT_EQ(messages, (std::vector<std::string>{"first", both, both, "second"}));
  EXPECT_EQ(ledger.owner(4), (jet::check::Owner{jet::check::Role::LongValue, 0}));
  EXPECT_EQ(ledger.owner(5), (jet::check::Owner{jet::check::Role::LongValue, 0}));
}

TEST(ShareOut, EveryTaskRunsOnceAndTheEarliestFailureIsThrown) {
  std::vector<std::atomic<int>> runs(40);
  std::atomic<bool> worker_out_of_range{false};
  auto run = [&](std::size_t task, std::size_t worker) {
    ++runs[task];
    if (worker >= 3) worker_out_of_range = true;
    if (task == 31 || task == 17) throw std::runtime_error("task " + std::to_string(task));
  };
  try {
    jet::check::share_out(runs.size(), 3, run);
    ADD_FAILURE() << "no failure thrown";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "task 17");
  }
  for (const auto& n : runs) EXPECT_EQ(n.load(), 1);
  EXPECT_FALSE(worker_out_of_range.load());
  jet::check::share_out(0, 3, [](std::size_t, std::size_t) { ADD_FAILURE() << "no tasks to run"; });
}

}  // namespace
