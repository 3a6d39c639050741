// The per-index integrity check: a sound index passes, and each kind of
// damage a real file can carry is reported as its own finding.
#include "engine/index/index_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/index/index_builder.h"
#include "engine/index/tests/people_table.h"
#include "engine/index/index_key.h"
#include "engine/index/tests/corpus_files.h"
#include "engine/read/database.h"

namespace jet::index {
namespace {

using testing::long_value;
using testing::text_value;

// A two-column table with a unique index on the text column that ignores
// nulls, stored in an in-memory page map.
struct Fixture {
  TableDef table;
  IndexData index;
  std::vector<std::pair<RowPointer, Row>> rows;
  std::map<PageNumber, Bytes> pages;
  PageNumber next_page = 100;

  Fixture() {
    table = testing::people_table();
    index.number = 0;
    index.columns = {IndexColumn{1, true}};
    index.flags = 0x01 | 0x02;  // unique, ignore nulls
    const char16_t* names[] = {u"Ada", u"bob", u"Cy", u"dora", u"Eve", u"Finn"};
    for (std::uint16_t i = 0; i < 6; ++i) rows.push_back({RowPointer{40, i}, Row{long_value(i), text_value(names[i])}});
    rows.push_back({RowPointer{41, 0}, Row{long_value(6), text_value(u"", true)}});  // null name: no entry
  }

  std::vector<IndexEntry> correct_entries() const { return testing::entries_for(table, index, rows); }

  void store(const std::vector<IndexEntry>& entries) {
    const BuiltIndex built = build_index_tree(entries, Format::Jet4, table.definition_page, [this] { return next_page++; });
    for (const auto& p : built.pages) pages[p.number] = p.bytes;
    index.first_page = built.root;
  }

  IndexCheckResult check() {
    auto fetch = [this](PageNumber n) {
      auto it = pages.find(n);
      if (it == pages.end()) throw Error(errc::kCannotOpenDatabase, "no page " + std::to_string(n));
      return it->second;
    };
    auto scan = [this](const std::function<void(RowPointer, const Row&)>& visit) {
      for (const auto& [where, row] : rows) visit(where, row);
    };
    return check_index(fetch, table, index, Format::Jet4, scan);
  }
};

std::vector<FindingKind> kinds(const IndexCheckResult& r) {
  std::vector<FindingKind> v;
  for (const auto& f : r.findings) v.push_back(f.kind);
  return v;
}

TEST(IndexCheck, SoundIndexHasNoFindings) {
  Fixture fx;
  fx.store(fx.correct_entries());
  const auto r = fx.check();
  EXPECT_TRUE(r.ok()) << r.findings.front().message;
  EXPECT_EQ(r.entries, 6u);
  EXPECT_EQ(r.rows, 7u);
}

TEST(IndexCheck, ReportsMissingStrayWrongAndDuplicateEntries) {
  Fixture fx;
  auto entries = fx.correct_entries();
  entries.erase(entries.begin() + 2);  // a row loses its entry
  fx.store(entries);
  EXPECT_EQ(kinds(fx.check()), std::vector<FindingKind>{FindingKind::MissingEntry});

  Fixture stray;
  entries = stray.correct_entries();
  Bytes zed{0x7F};
  append_text_key(u"zed", TextOrder::GeneralLegacy, true, zed);
  entries.push_back({zed, RowPointer{99, 3}, 0});  // points at no row
  stray.store(entries);
  EXPECT_EQ(kinds(stray.check()), std::vector<FindingKind>{FindingKind::StrayEntry});

  Fixture stale;
  stale.store(stale.correct_entries());
  stale.rows[0].second[1] = text_value(u"Zed");  // row changed, index not updated
  const auto r = stale.check();
  ASSERT_EQ(kinds(r), std::vector<FindingKind>{FindingKind::WrongKey});
  EXPECT_EQ(r.findings[0].row, (RowPointer{40, 0}));
  EXPECT_NE(r.findings[0].message.find("People"), std::string::npos);

  Fixture dup;
  dup.rows[1].second[1] = text_value(u"ADA");  // same key as "Ada": case folds
  dup.store(dup.correct_entries());
  EXPECT_EQ(kinds(dup.check()), std::vector<FindingKind>{FindingKind::DuplicateKey});

  // A primary key is unique without the flag on its physical index.
  Fixture pk;
  pk.index.flags = 0;
  pk.rows.pop_back();  // no null names in a primary key
  pk.rows[1].second[1] = text_value(u"ADA");
  pk.store(pk.correct_entries());
  EXPECT_TRUE(pk.check().ok());
  Index primary;
  primary.kind = 1;
  primary.index_data = pk.index.number;
  pk.table.indexes.push_back(primary);
  EXPECT_EQ(kinds(pk.check()), std::vector<FindingKind>{FindingKind::DuplicateKey});
}

TEST(IndexCheck, UnreadableTreeIsOneDamagedFinding) {
  Fixture fx;
  fx.store(fx.correct_entries());
  fx.pages[fx.index.first_page][0] = 0x01;  // no longer an index page
  const auto r = fx.check();
  ASSERT_EQ(kinds(r), std::vector<FindingKind>{FindingKind::Damaged});
  EXPECT_NE(r.findings[0].message.find("damaged"), std::string::npos);
}

TEST(IndexCheck, FindingsAreCappedWithASummary) {
  Fixture fx;
  fx.store({});  // every row missing from an empty index
  for (std::uint16_t i = 0; i < 200; ++i) {
    fx.rows.push_back({RowPointer{50, i}, Row{long_value(i), text_value(u"n" + std::u16string(1, char16_t(u'a' + i % 26)))}});
  }
  const auto r = fx.check();
  EXPECT_EQ(r.findings.size(), kMaxFindings + 1);
  EXPECT_NE(r.findings.back().message.find("further problems"), std::string::npos);
}

// Every index of every sample file passes the check.
TEST(IndexCheck, SampleIndexesAreSound) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
  std::size_t checked = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    OpenOptions opts;
    if (path.parent_path().filename() == "password") opts.password = "password";
    auto db = Database::open(path.string(), opts);
    const Format format = db->version() == JetVersion::Jet3 ? Format::Jet3 : Format::Jet4;
    auto fetch = [&](PageNumber n) { return db->read_page(n); };
    for (const TableDef& t : db->tables()) {
      for (const IndexData& idx : t.index_data) {
        auto scan = [&](const std::function<void(RowPointer, const Row&)>& visit) { db->scan_rows(t, visit); };
        const auto r = check_index(fetch, t, idx, format, scan);
        for (const auto& f : r.findings) {
          if (f.kind != FindingKind::KeysNotChecked) ADD_FAILURE() << f.message;
        }
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 500u);
}

}  // namespace
}  // namespace jet::index
