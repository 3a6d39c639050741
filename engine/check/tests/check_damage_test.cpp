// The check against deliberate damage: each test breaks one thing in a
// copy of a sample database and expects exactly that kind of error, while
// the untouched copy is clean.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "engine/check/check.h"
#include "engine/check/tests/check_both_ways.h"
#include "engine/check/page_ledger.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/row_layout.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_samples.h"

namespace {

namespace fs = quillmar_test::fs;
using jet::PageNumber;

// A patchable copy of jet3/testV1997.mdb (small, unencrypted, user tables
// Table1 with two rows and the empty Table2).
class CheckDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = quillmar_test::corpus_dir() / "jet3" / "testV1997.mdb";
    if (!fs::exists(source_)) GTEST_SKIP() << "sample database not found: " << source_;
    copy_ = scratch_.copy_of(source_, "damaged.mdb");
    bytes_ = quillmar_test::read_bytes(copy_);
    db_ = jet::Database::open(copy_.string());
    ps_ = db_->page_size();
  }

  jet::CheckReport check_patched() {
    quillmar_test::write_bytes(copy_, bytes_);
    auto db = jet::Database::open(copy_.string());
    return quillmar_test::check_both_ways(*db);
  }

  // The first data page of `table` that its map marks and that holds rows.
  PageNumber data_page_of(const jet::TableDef& t) {
    for (PageNumber p : db_->table_pages(t)) {
      auto page = db_->page(p);
      if ((*page)[0] == jet::page_type::kData &&
          jet::data_page_owner(db_->format(), *page) == t.definition_page &&
          jet::data_page_row_count(db_->format(), *page) >= 2) {
        return p;
      }
    }
    ADD_FAILURE() << "no data page with two rows in " << t.name;
    return 0;
  }

  std::size_t at(PageNumber page, std::size_t offset) const { return std::size_t{page} * ps_ + offset; }
  void put_u16(std::size_t pos, std::uint16_t v) { jet::put_u16(&bytes_[pos], v); }
  void put_u32(std::size_t pos, std::uint32_t v) { jet::put_u32(&bytes_[pos], v); }
  std::uint32_t get_u32(std::size_t pos) const { return jet::get_u32(bytes_, pos); }

  static std::vector<jet::Finding> errors(const jet::CheckReport& r, const std::string& kind) {
    std::vector<jet::Finding> out;
    for (const auto& f : r.findings) {
      if (f.severity == jet::Severity::Error && f.kind == kind) out.push_back(f);
    }
    return out;
  }
  static std::string all_errors(const jet::CheckReport& r) {
    std::string text;
    for (const auto& f : r.findings) {
      if (f.severity == jet::Severity::Error) text += f.kind + ": " + f.message + "\n";
    }
    return text;
  }

  quillmar_test::ScratchDir scratch_;
  fs::path source_, copy_;
  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<jet::Database> db_;
  std::uint32_t ps_ = 0;
};

TEST_F(CheckDamage, UntouchedCopyIsClean) {
  jet::CheckReport r = check_patched();
  EXPECT_EQ(r.error_count(), 0u) << all_errors(r);
}

// Jet keeps the stored counts as a lazy tally, of user and system tables
// alike (real files from Access disagree with their rows now and then):
// a wrong one is a note, which compaction puts right.
TEST_F(CheckDamage, WrongRowCountIsOnlyANote) {
  for (const char* name : {"Table1", "MSysACEs"}) {
    jet::TableDef t = db_->table(name);
    std::size_t pos = at(t.definition_page, db_->format().tdef_row_count_offset);
    put_u32(pos, get_u32(pos) + 5);
  }
  jet::CheckReport r = check_patched();
  EXPECT_EQ(r.error_count(), 0u) << all_errors(r);
  std::set<std::string> noted;
  for (const auto& f : r.findings) {
    if (f.kind == "row-count") noted.insert(f.table);
  }
  EXPECT_EQ(noted, (std::set<std::string>{"MSysACEs", "Table1"}));
}

TEST_F(CheckDamage, RowOutsideItsBoundsIsAnError) {
  jet::TableDef t = db_->table("Table1");
  PageNumber p = data_page_of(t);
  const jet::JetFormat& f = db_->format();
  // Row 1 ends where row 0 starts; make it start after that.
  std::size_t slot0 = at(p, f.data_row_table_offset);
  std::uint16_t start0 = jet::get_u16(bytes_, slot0) & jet::kRowOffsetMask;
  put_u16(slot0 + 2, static_cast<std::uint16_t>(start0 + 2));
  jet::CheckReport r = check_patched();
  auto found = errors(r, "row-offsets");
  ASSERT_FALSE(found.empty()) << all_errors(r);
  EXPECT_EQ(found[0].page, p);
  EXPECT_TRUE(errors(r, "row-count").empty()) << "a count is never the damage itself";
}

TEST_F(CheckDamage, RowsOnAPageTheUsageMapLeavesOutAreAnError) {
  jet::TableDef t1 = db_->table("Table1");
  jet::TableDef t2 = db_->table("Table2");
  PageNumber p = data_page_of(t1);
  // The page now says it belongs to Table2, whose map does not list it.
  put_u32(at(p, db_->format().page_owner_offset), t2.definition_page);
  jet::CheckReport r = check_patched();
  auto found = errors(r, "usage-map");
  ASSERT_EQ(found.size(), 1u) << all_errors(r);
  EXPECT_EQ(found[0].table, "Table2");
  EXPECT_EQ(found[0].page, p);
}

TEST_F(CheckDamage, PageInUseMarkedFreeIsAnError) {
  jet::TableDef t = db_->table("Table1");
  PageNumber p = data_page_of(t);
  // Row 0 of page 1: the free-page map, an inline map (type 0, start page, bits).
  jet::RowSlot slot = jet::data_page_slot(db_->format(), *db_->page(1), 0);
  std::size_t map = at(1, slot.start);
  ASSERT_EQ(bytes_[map], 0x00) << "expected an inline map";
  std::uint32_t first = get_u32(map + 1);
  ASSERT_GE(p, first);
  std::size_t bit = p - first;
  ASSERT_LT(5 + bit / 8, static_cast<std::size_t>(slot.end - slot.start));
  bytes_[map + 5 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
  jet::CheckReport r = check_patched();
  auto found = errors(r, "free-map");
  ASSERT_EQ(found.size(), 1u) << all_errors(r);
  EXPECT_EQ(found[0].page, p);
  EXPECT_EQ(found[0].table, "Table1");
}

TEST_F(CheckDamage, LongValuePointingOutsideTheFileIsAnError) {
  // The first Memo/OLE value stored outside its row, in any table but the catalog.
  const jet::JetFormat& f = db_->format();
  std::size_t field_pos = 0;
  std::string table;
  for (const jet::TableDef& t : db_->tables()) {
    if (t.definition_page == 2) continue;  // damage to the catalog makes the file unreadable
    db_->scan_raw_rows(t, [&](jet::RowPointer where, std::span<const std::uint8_t> row) {
      if (field_pos != 0) return;
      auto page = db_->page(where.page);
      jet::RowSlot slot = jet::data_page_slot(f, *page, where.row);
      if (slot.overflow) return;
      auto fields = jet::split_row(f, t, row);
      for (std::size_t c = 0; c < fields.size(); ++c) {
        if (!jet::is_long_value(t.columns[c].type) || fields[c].null) continue;
        if (jet::parse_long_value_ref(fields[c].bytes).kind == jet::kLongValueInline) continue;
        field_pos = at(where.page, slot.start) + static_cast<std::size_t>(fields[c].bytes.data() - row.data());
        table = t.name;
        return;
      }
    });
    if (field_pos != 0) break;
  }
  if (field_pos == 0) GTEST_SKIP() << "no long value stored outside its row in this sample";
  put_u32(field_pos + 4, (db_->page_count() + 5) << 8);
  jet::CheckReport r = check_patched();
  auto found = errors(r, "long-value");
  ASSERT_EQ(found.size(), 1u) << all_errors(r);
  EXPECT_EQ(found[0].table, table);
  EXPECT_NE(found[0].message.find("outside the file"), std::string::npos) << found[0].message;
}

TEST_F(CheckDamage, RowValueThatNoLongerMatchesItsIndexKeyIsReported) {
  // A fixed-size indexed column of a user table: change its stored value
  // behind the index's back.
  const jet::JetFormat& f = db_->format();
  std::size_t value_pos = 0;
  std::string table;
  for (const jet::TableDef& t : db_->tables()) {
    if (t.is_system() || t.index_data.empty()) continue;
    std::set<std::uint16_t> indexed;
    for (const auto& data : t.index_data) {
      for (const auto& c : data.columns) indexed.insert(c.column_number);
    }
    db_->scan_raw_rows(t, [&](jet::RowPointer where, std::span<const std::uint8_t> row) {
      if (value_pos != 0) return;
      jet::RowSlot slot = jet::data_page_slot(f, *db_->page(where.page), where.row);
      if (slot.overflow) return;
      auto fields = jet::split_row(f, t, row);
      for (std::size_t c = 0; c < fields.size(); ++c) {
        const jet::Column& col = t.columns[c];
        if (indexed.count(col.number) == 0 || fields[c].null) continue;
        if (col.type != jet::ColumnType::Long && col.type != jet::ColumnType::Integer) continue;
        value_pos = at(where.page, slot.start) + static_cast<std::size_t>(fields[c].bytes.data() - row.data());
        table = t.name;
        return;
      }
    });
    if (value_pos != 0) break;
  }
  if (value_pos == 0) GTEST_SKIP() << "no indexed number column with a value in this sample";
  bytes_[value_pos] ^= 0x5A;
  jet::CheckReport r = check_patched();
  // Reported either way: an error where the index keys numbers alone (their
  // keys have one form), a note where it keys text as well (a text key that
  // differs from ours is taken as Access's own).
  bool reported = false;
  for (const auto& finding : r.findings) {
    if (finding.kind != "index" || finding.table != table) continue;
    if (finding.message.find("key differs from the computed one") == std::string::npos) continue;
    reported = true;
    jet::TableDef t = db_->table(table);
    bool text = false;
    for (const auto& data : t.index_data) {
      if (finding.message.find("index " + std::to_string(data.number) + ":") == std::string::npos) continue;
      for (const auto& c : data.columns) {
        for (const auto& col : t.columns) {
          text = text || (col.number == c.column_number &&
                          (col.type == jet::ColumnType::Text || col.type == jet::ColumnType::Memo));
        }
      }
    }
    EXPECT_EQ(finding.severity, text ? jet::Severity::Note : jet::Severity::Error) << finding.message;
  }
  EXPECT_TRUE(reported) << all_errors(r);
}

TEST(PageLedger, SecondDifferentOwnerIsReportedOnce) {
  std::vector<std::string> names{"A", "B"};
  jet::check::PageLedger ledger(10, names);
  jet::CheckReport r;
  ledger.claim(3, {jet::check::Role::Data, 0}, r);
  ledger.claim(3, {jet::check::Role::Data, 0}, r);  // same owner again: fine
  EXPECT_TRUE(r.findings.empty());
  ledger.claim(3, {jet::check::Role::Index, 1}, r);
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0].kind, "page-owner");
  EXPECT_NE(r.findings[0].message.find("table 'A'"), std::string::npos);
  EXPECT_NE(r.findings[0].message.find("table 'B'"), std::string::npos);
  ledger.claim(12, {jet::check::Role::LongValue, 1}, r);  // beyond the file
  EXPECT_EQ(r.findings.size(), 2u);
  EXPECT_EQ(r.findings[1].page, 12u);
}

}  // namespace
