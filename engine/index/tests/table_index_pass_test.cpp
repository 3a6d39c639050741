// The one-pass check of all of a table's indexes: where it settles an
// index it must say exactly what check_index says, and every kind of
// disagreement between rows and entries must send the index back to
// check_index instead of passing.
#include "engine/index/table_index_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/error.h"
#include "engine/index/index_builder.h"
#include "engine/index/tests/people_table.h"

namespace jet::index {
namespace {

using testing::long_value;
using testing::text_value;

// A table with two indexes: 0 unique on the name (nulls left out), 1 on
// the number. Enough rows that each tree spans several leaf pages.
struct TwoIndexTable {
  TableDef table;
  std::vector<std::pair<RowPointer, Row>> rows;
  std::map<PageNumber, Bytes> pages;
  PageNumber next_page = 100;

  TwoIndexTable() {
    table = testing::people_table();
    IndexData by_name;
    by_name.number = 0;
    by_name.columns = {IndexColumn{1, true}};
    by_name.flags = 0x01 | 0x02;  // unique, ignore nulls
    IndexData by_id;
    by_id.number = 1;
    by_id.columns = {IndexColumn{0, false}};  // descending
    table.index_data = {by_name, by_id};
    for (std::uint16_t i = 0; i < 900; ++i) {
      std::u16string n = u"person ";
      for (char c : std::to_string(i * 7919 % 1000)) n.push_back(static_cast<char16_t>(c));
      rows.push_back({RowPointer{40u + i / 50u, static_cast<std::uint16_t>(i % 50)},
                      Row{long_value(i % 300), text_value(n, i % 97 == 0)}});
    }
  }

  std::vector<IndexEntry> correct_entries(std::size_t k) const {
    return testing::entries_for(table, table.index_data[k], rows);
  }

  void store(std::size_t k, const std::vector<IndexEntry>& entries) {
    const BuiltIndex built = build_index_tree(entries, Format::Jet4, table.definition_page, [this] { return next_page++; });
    for (const auto& p : built.pages) pages[p.number] = p.bytes;
    table.index_data[k].first_page = built.root;
  }
  void store_all() {
    for (std::size_t k = 0; k < table.index_data.size(); ++k) store(k, correct_entries(k));
  }

  Bytes page(PageNumber n) const {
    auto it = pages.find(n);
    if (it == pages.end()) throw Error(errc::kCannotOpenDatabase, "no page " + std::to_string(n));
    return it->second;
  }

  IndexCheckResult one_by_one(std::size_t k) const {
    auto scan = [this](const std::function<void(RowPointer, const Row&)>& visit) {
      for (const auto& [where, row] : rows) visit(where, row);
    };
    return check_index([this](PageNumber n) { return page(n); }, table, table.index_data[k], Format::Jet4, scan);
  }

  // The pass's own verdict per index (nullopt: handed back).
  std::vector<std::optional<IndexCheckResult>> pass() const {
    TableIndexPass pass(table, Format::Jet4, 0x1234);
    for (const auto& [where, row] : rows) pass.add_row(where, row);
    std::vector<std::optional<IndexCheckResult>> out;
    for (std::size_t k = 0; k < table.index_data.size(); ++k) {
      out.push_back(pass.finish(k, [this](PageNumber n) { return std::make_shared<const Bytes>(page(n)); }));
    }
    return out;
  }
};

std::vector<std::string> messages(const IndexCheckResult& r) {
  std::vector<std::string> v;
  for (const auto& f : r.findings) v.push_back(std::to_string(static_cast<int>(f.kind)) + " " + f.message);
  return v;
}

// Where the pass settles an index, its findings are check_index's.
void expect_settled_like_check_index(const TwoIndexTable& t, std::size_t k) {
  const auto verdict = t.pass()[k];
  ASSERT_TRUE(verdict.has_value()) << "index " << k << " was handed back";
  EXPECT_EQ(messages(*verdict), messages(t.one_by_one(k)));
}

void expect_handed_back(const TwoIndexTable& t, std::size_t k) {
  EXPECT_FALSE(t.pass()[k].has_value()) << "index " << k << " passed although check_index finds: "
                                        << (t.one_by_one(k).ok() ? "nothing" : t.one_by_one(k).findings[0].message);
  EXPECT_FALSE(t.one_by_one(k).ok());
}

TEST(TableIndexPass, SoundIndexesSettleWithoutFindings) {
  TwoIndexTable t;
  t.store_all();
  ASSERT_GE(t.pages.size(), 6u);  // several leaves per tree
  for (std::size_t k = 0; k < 2; ++k) {
    expect_settled_like_check_index(t, k);
    EXPECT_TRUE(t.pass()[k]->ok());
  }
}

TEST(TableIndexPass, EveryDisagreementIsHandedBack) {
  {  // an entry missing from one index leaves the other settled
    TwoIndexTable t;
    t.store_all();
    auto entries = t.correct_entries(1);
    entries.erase(entries.begin() + 123);
    t.store(1, entries);
    expect_settled_like_check_index(t, 0);
    expect_handed_back(t, 1);
  }
  {  // an extra entry pointing at no row
    TwoIndexTable t;
    t.store_all();
    auto entries = t.correct_entries(1);
    entries.push_back({entries.back().key, RowPointer{99, 1}, 0});
    t.store(1, entries);
    expect_handed_back(t, 1);
  }
  {  // a row listed twice in place of another (same count of entries)
    TwoIndexTable t;
    t.store_all();
    auto entries = t.correct_entries(0);
    entries[10].row = entries[11].row;
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return compare_entries(a, b) < 0; });
    t.store(0, entries);
    expect_handed_back(t, 0);
  }
  {  // a row whose key columns changed after the index was written
    TwoIndexTable t;
    t.store_all();
    t.rows[500].second[0] = long_value(7777);
    t.rows[501].second[1] = text_value(u"renamed");
    expect_handed_back(t, 0);
    expect_handed_back(t, 1);
  }
  {  // two entries whose row pointers were swapped: same rows, same keys, wrong pairs
    TwoIndexTable t;
    t.store_all();
    auto entries = t.correct_entries(0);
    std::swap(entries[3].row, entries[400].row);
    t.store(0, entries);
    expect_handed_back(t, 0);
  }
  {  // a row whose name became null must leave the unique index
    TwoIndexTable t;
    t.store_all();
    t.rows[5].second[1] = text_value(u"", true);
    expect_handed_back(t, 0);
    expect_settled_like_check_index(t, 1);
  }
}

TEST(TableIndexPass, SettledIndexesStillReportDuplicatesDamageAndUnknownKeys) {
  {  // a unique index holding one key twice: the rows agree, the rule does not
    TwoIndexTable t;
    t.rows[7].second[1] = t.rows[8].second[1];
    t.rows[30].second[1] = t.rows[31].second[1];
    t.store_all();
    expect_settled_like_check_index(t, 0);
    EXPECT_EQ(t.pass()[0]->findings.size(), 2u);
    EXPECT_EQ(t.pass()[0]->findings[0].kind, FindingKind::DuplicateKey);
  }
  {  // a tree that cannot be read
    TwoIndexTable t;
    t.store_all();
    t.pages[t.table.index_data[1].first_page][0] = 0x01;
    expect_settled_like_check_index(t, 1);
    EXPECT_EQ(t.pass()[1]->findings.at(0).kind, FindingKind::Damaged);
  }
  {  // entries out of order on a leaf: the first of three equal keys now
     // points past the second's row
    TwoIndexTable t;
    t.store_all();
    const IndexTree tree = read_index_tree([&t](PageNumber n) { return t.page(n); }, t.table.index_data[1].first_page,
                                           Format::Jet4);
    Bytes& leaf = t.pages[tree.leaves.at(0)];
    const PageLayout& L = layout_for(Format::Jet4);
    std::size_t first_end = 0;
    while (((leaf[L.mask + first_end / 8] >> (first_end % 8)) & 1) == 0) ++first_end;
    leaf[L.entries_start() + first_end - 2] = 0xFF;  // low byte of its row's page
    expect_settled_like_check_index(t, 1);
    EXPECT_EQ(t.pass()[1]->findings.at(0).kind, FindingKind::Damaged);
  }
  {  // a sort order without a known key form: only row pointers compared
    TwoIndexTable t;
    t.store_all();
    t.table.columns[1].collation = 1036;
    expect_settled_like_check_index(t, 0);
    EXPECT_EQ(t.pass()[0]->findings.at(0).kind, FindingKind::KeysNotChecked);
  }
}

TEST(TableIndexPass, PassesOverPartsOfTheRowsAddUpToOnePassOverAll) {
  // The rows split between two passes (as two threads walking different
  // pages would), the second taking over the first.
  auto split_pass = [](const TwoIndexTable& t, std::size_t cut) {
    TableIndexPass first(t.table, Format::Jet4, 0x1234), second(t.table, Format::Jet4, 0x1234);
    for (std::size_t i = 0; i < t.rows.size(); ++i) (i < cut ? first : second).add_row(t.rows[i].first, t.rows[i].second);
    second.absorb(first);
    std::vector<std::optional<IndexCheckResult>> out;
    for (std::size_t k = 0; k < t.table.index_data.size(); ++k) {
      out.push_back(second.finish(k, [&t](PageNumber n) { return std::make_shared<const Bytes>(t.page(n)); }));
    }
    return out;
  };
  {  // sound: settled, with the rows of both counted
    TwoIndexTable t;
    t.rows[7].second[1] = t.rows[8].second[1];  // a duplicate the unique index still reports
    t.store_all();
    const auto whole = t.pass();
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{450}, t.rows.size()}) {
      const auto parts = split_pass(t, cut);
      for (std::size_t k = 0; k < 2; ++k) {
        ASSERT_TRUE(parts[k].has_value()) << "cut " << cut << " index " << k;
        EXPECT_EQ(messages(*parts[k]), messages(*whole[k]));
        EXPECT_EQ(parts[k]->rows, t.rows.size());
      }
    }
  }
  {  // a row missing from an index on one side of the cut only
    TwoIndexTable t;
    t.store_all();
    auto entries = t.correct_entries(1);
    entries.erase(entries.begin() + 700);
    t.store(1, entries);
    EXPECT_TRUE(split_pass(t, 450)[0].has_value());
    EXPECT_FALSE(split_pass(t, 450)[1].has_value());
  }
  {  // a row that cannot be keyed, on either side of the cut, sends that index back
    TwoIndexTable t;
    t.store_all();
    t.rows[100].second.resize(1);  // no name to key on
    for (std::size_t cut : {std::size_t{50}, std::size_t{450}}) {
      const auto parts = split_pass(t, cut);
      EXPECT_FALSE(parts[0].has_value()) << "cut " << cut;
      EXPECT_TRUE(parts[1].has_value()) << "cut " << cut;
    }
  }
  {  // passes with different seeds do not add up
    TwoIndexTable t;
    TableIndexPass a(t.table, Format::Jet4, 1), b(t.table, Format::Jet4, 2);
    EXPECT_THROW(a.absorb(b), std::logic_error);
  }
}

TEST(Fingerprint, IgnoresOrderButNotPairs) {
  const Bytes a{1, 2, 3}, b{1, 2, 4};
  Fingerprint x(42), y(42), z(42), w(42);
  x.add({1, 1}, a);
  x.add({1, 2}, b);
  y.add({1, 2}, b);
  y.add({1, 1}, a);
  EXPECT_EQ(x, y);
  z.add({1, 1}, b);  // keys swapped between the rows
  z.add({1, 2}, a);
  EXPECT_FALSE(x == z);
  w.add({1, 1}, a);
  EXPECT_FALSE(x == w);
  w.add({1, 2}, Bytes{1, 2, 4, 0});  // a key that differs only by a trailing zero
  EXPECT_FALSE(x == w);
}

}  // namespace
}  // namespace jet::index
