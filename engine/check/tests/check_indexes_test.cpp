// The check of indexes on a built file with a table of three indexes and
// long values over several pages: whatever is damaged, the index findings
// of the whole-file check are exactly those of checking each index alone
// against a scan of its table (index::check_index).
#include <gtest/gtest.h>

#include "engine/builder/database_builder.h"
#include "engine/check/check.h"
#include "engine/check/tests/check_both_ways.h"
#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/index/index_check.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"
#include "engine/tests/builder_test_support.h"
#include "engine/tests/corpus_samples.h"

namespace {

using jet::PageNumber;
using jet::RowPointer;

class CheckBuiltIndexes : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = scratch_.path() / "built.mdb";
    jet::build::DatabaseBuilder b(path_.string());
    const std::size_t t = b.add_table(jet::builder_testing::customers_design());
    for (int n = 1; n <= 300; ++n) {
      b.append_row(t, jet::builder_testing::customer_row(n), n % 4 == 0 ? jet::build::RowFate::kDeleted
                                                                        : jet::build::RowFate::kLive);
    }
    b.finish();
    bytes_ = quillmar_test::read_bytes(path_);
    db_ = jet::Database::open(path_.string());
    table_ = db_->table("Customers");
    ps_ = db_->page_size();
  }

  jet::CheckReport check_patched() {
    quillmar_test::write_bytes(path_, bytes_);
    auto db = jet::Database::open(path_.string());
    return quillmar_test::check_both_ways(*db);
  }

  static std::vector<std::string> index_findings(const jet::CheckReport& r) {
    std::vector<std::string> out;
    for (const auto& f : r.findings) {
      if (f.kind == "index") out.push_back(f.message);
    }
    return out;
  }

  // Each index on its own, worded as the whole-file check words it.
  std::vector<std::string> one_index_at_a_time() {
    auto db = jet::Database::open(path_.string());
    const jet::TableDef t = db->table("Customers");
    std::vector<std::string> out;
    auto fetch = [&](PageNumber n) { return db->read_page(n); };
    auto scan = [&](const std::function<void(RowPointer, const jet::Row&)>& visit) { db->scan_rows(t, visit); };
    for (const auto& data : t.index_data) {
      try {
        for (const auto& f : jet::index::check_index(fetch, t, data, jet::index::Format::Jet4, scan).findings) {
          out.push_back(f.message);
        }
      } catch (const jet::Error& e) {
        out.push_back("index " + std::to_string(data.number) + " cannot be checked: " + e.source());
      }
    }
    return out;
  }

  // Byte offset in the file of column `name` of the first live row (not
  // moved) for which `wanted` holds.
  std::size_t column_offset(const std::string& name, std::size_t skip = 0) {
    const jet::JetFormat& f = db_->format();
    std::size_t found = 0;
    db_->scan_raw_rows(table_, [&](RowPointer where, std::span<const std::uint8_t> row) {
      if (found != 0) return;
      const jet::RowSlot slot = jet::data_page_slot(f, *db_->page(where.page), where.row);
      const auto fields = jet::split_row(f, table_, row);
      for (std::size_t c = 0; c < fields.size(); ++c) {
        if (table_.columns[c].name != name || fields[c].null || slot.overflow) continue;
        if (skip-- > 0) return;
        found = std::size_t{where.page} * ps_ + slot.start + static_cast<std::size_t>(fields[c].bytes.data() - row.data());
      }
    });
    return found;
  }

  quillmar_test::ScratchDir scratch_;
  quillmar_test::fs::path path_;
  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<jet::Database> db_;
  jet::TableDef table_;
  std::uint32_t ps_ = 0;
};

TEST_F(CheckBuiltIndexes, BuiltFileIsClean) {
  ASSERT_EQ(table_.index_data.size(), 3u);
  const jet::CheckReport r = check_patched();
  EXPECT_EQ(r.error_count(), 0u) << (r.findings.empty() ? "" : r.findings[0].message);
}

TEST_F(CheckBuiltIndexes, ChangedKeyValuesGiveTheFindingsOfEachIndexAlone) {
  const std::size_t visits = column_offset("Visits", 3);
  const std::size_t id = column_offset("ID", 10);
  const std::size_t name = column_offset("Name", 20);
  ASSERT_NE(visits * id * name, 0u);
  bytes_[visits] ^= 0x21;  // AgeVisits
  bytes_[id] ^= 0x01;      // the primary key
  bytes_[name + 2] ^= 0x01;  // Name: one letter of the text changes
  const jet::CheckReport r = check_patched();
  const auto found = index_findings(r);
  EXPECT_EQ(found.size(), 3u);
  EXPECT_EQ(found, one_index_at_a_time());
}

TEST_F(CheckBuiltIndexes, EntryPointingAtAnotherRowGivesTheFindingsOfEachIndexAlone) {
  const jet::TableDef& t = table_;
  const jet::index::IndexTree tree = jet::index::read_index_tree(
      [&](PageNumber n) { return db_->read_page(n); }, t.index_data[0].first_page, jet::index::Format::Jet4);
  const PageNumber leaf = tree.leaves.at(0);
  const auto& L = jet::index::layout_for(jet::index::Format::Jet4);
  std::size_t first_end = 0;
  while (((bytes_[leaf * ps_ + L.mask + first_end / 8] >> (first_end % 8)) & 1) == 0) ++first_end;
  bytes_[leaf * ps_ + L.entries_start() + first_end - 1] ^= 0x02;  // the row number of the first entry
  const jet::CheckReport r = check_patched();
  const auto found = index_findings(r);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found, one_index_at_a_time());
}

TEST_F(CheckBuiltIndexes, LoopingLongValueChainIsAnErrorAndTheIndexesAreStillChecked) {
  const jet::JetFormat& f = db_->format();
  std::size_t link = 0;
  std::uint32_t first = 0;
  db_->scan_raw_rows(table_, [&](RowPointer, std::span<const std::uint8_t> row) {
    if (link != 0) return;
    const auto fields = jet::split_row(f, table_, row);
    for (std::size_t c = 0; c < fields.size(); ++c) {
      if (table_.columns[c].name != "Notes" || fields[c].null) continue;
      const jet::LongValueRef ref = jet::parse_long_value_ref(fields[c].bytes);
      if (ref.kind != jet::kLongValueChained) continue;
      const RowPointer at = jet::decode_row_pointer(ref.row_pointer);
      const jet::RowSlot slot = jet::data_page_slot(f, *db_->page(at.page), at.row);
      link = std::size_t{at.page} * ps_ + slot.start;
      first = ref.row_pointer;
    }
  });
  ASSERT_NE(link, 0u) << "no chained memo";
  jet::put_u32(&bytes_[link], first);  // the first link points back at itself
  const jet::CheckReport r = check_patched();
  std::size_t long_value_errors = 0;
  for (const auto& finding : r.findings) long_value_errors += finding.kind == "long-value" ? 1 : 0;
  EXPECT_EQ(long_value_errors, 1u);
  EXPECT_EQ(index_findings(r), one_index_at_a_time());
}

}  // namespace
