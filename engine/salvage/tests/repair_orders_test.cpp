// Repair in the source's own collating order: each kind of damage done to
// files in orders other than General compacts with the default order into
// a copy in that order, which checks clean, holds every row the damage
// left readable and, to the outside readers, differs from the undamaged
// original only by what the log says was lost. The keys the repair must
// form (its log table, recovered tables, an index rebuilt) come from what
// the file's own entries show of its order; rows it cannot key (names in
// the order's own script) keep the key Access stored for them where that
// is provably theirs. Where neither holds, the copy in that order is
// refused naming the index.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string_view>

#include "engine/index/index_findings.h"
#include "engine/model/access_tables.h"
#include "engine/salvage/tests/repair_fixture.h"

namespace jet {
namespace {

using namespace repair_testing;

// What the copy holds of the original besides the rows of the tables not
// named here.
struct Expected {
  // Source tables the damage touched: the name each has in the copy (""
  // none) and the rows it holds there.
  std::map<std::string, std::pair<std::string, std::size_t>> changed;
  // What jetdiff sees differ: rows only in the original, only in the copy.
  std::map<std::string, std::pair<long, long>> differs;
  bool catalog_damaged = false;
  bool logged = true;
};

struct Damage {
  const char* name;
  // Damages the copy of the sample; nothing when the sample has nothing
  // to damage so.
  std::function<std::optional<Expected>(Database&, const std::filesystem::path&)> apply;
};

std::size_t rows_of(Database& db, const std::string& table) { return row_counts(db).at(table); }

// The user table with the most rows, and one of its data pages.
std::pair<std::string, PageNumber> biggest_table_page(Database& db) {
  std::string name;
  std::size_t most = 0;
  PageNumber page = 0;
  for (const TableDef& t : db.tables()) {
    if (t.is_system() || t.name.starts_with("MSys")) continue;
    std::size_t rows = 0;
    PageNumber last = 0;
    db.scan_raw_rows(t, [&](RowPointer where, std::span<const std::uint8_t>) {
      ++rows;
      last = where.page;
    });
    if (rows > most) {
      most = rows;
      name = t.name;
      page = last;
    }
  }
  return {name, page};
}

// Repeats a neighbour's stored key in the catalog's unique name index.
bool repeat_catalog_key(Database& db, const std::filesystem::path& file) {
  const TableDef t = db.table("MSysObjects");
  for (const IndexData& d : t.index_data) {
    if (index::detail::must_be_unique(t, d) && d.columns.size() == 2) return repeat_stored_key(db, file, t, d);
  }
  return false;
}

const std::vector<Damage>& damages() {
  static const std::vector<Damage> all = {
      {"zeroed data page",
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         const auto [table, page] = biggest_table_page(db);
         if (table.empty()) return std::nullopt;
         const auto lost = static_cast<long>(rows_on_page(db, db.table(table), page));
         zero_page(file, page, db.page_size());
         Expected e;
         e.changed[table] = {table, rows_of(db, table) - static_cast<std::size_t>(lost)};
         e.differs[table] = {lost, 0};
         return e;
       }},
      {"garbled index page",
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         if (!garble_text_index(db, file)) return std::nullopt;
         Expected e;
         e.logged = false;
         return e;
       }},
      {"catalog row blanked",  // the table comes back under its definition page's number
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         const auto [table, page] = biggest_table_page(db);
         if (table.empty()) return std::nullopt;
         for (const CatalogEntry& c : db.catalog()) {
           if (c.name == table) blank_row(file, db, c.where);
         }
         const std::string found_as = "Recovered_Table_" + std::to_string(db.table(table).definition_page);
         Expected e;
         e.changed[table] = {found_as, rows_of(db, table)};
         e.differs = {{table, {0, 0}}, {found_as, {0, 0}}};
         e.catalog_damaged = true;
         return e;
       }},
      {"zeroed usage map",  // the pages are found by their owner field
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         const auto [table, page] = biggest_table_page(db);
         if (table.empty()) return std::nullopt;
         zero_page(file, db.table(table).owned_map_row.page, db.page_size());
         return Expected{};
       }},
      {"zeroed definition",  // the table is left out
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         const auto [table, page] = biggest_table_page(db);
         if (table.empty()) return std::nullopt;
         zero_page(file, db.table(table).definition_page, db.page_size());
         Expected e;
         e.changed[table] = {"", 0};
         e.differs[table] = {0, 0};
         e.catalog_damaged = true;  // Access's own tables still name it
         return e;
       }},
      {"row with impossible offsets",
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         const auto [table, page] = biggest_table_page(db);
         if (table.empty() || !garble_row_offsets(db, file, db.table(table))) return std::nullopt;
         Expected e;
         e.changed[table] = {table, rows_of(db, table) - 1};
         e.differs[table] = {1, 0};
         return e;
       }},
      {"catalog key repeated",  // both rows keyed afresh where they can be
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         if (!repeat_catalog_key(db, file)) return std::nullopt;
         Expected e;
         e.logged = false;
         return e;
       }},
      {"free page map zeroed",  // page 1: the copy makes its own
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         zero_page(file, 1, db.page_size());
         Expected e;
         e.logged = false;
         return e;
       }},
      {"catalog lost every row",  // each table found by its definition
       [](Database& db, const std::filesystem::path& file) -> std::optional<Expected> {
         Expected e;
         for (PageNumber p : db.table_pages(db.table("MSysObjects"))) zero_page(file, p, db.page_size());
         for (const TableDef& t : db.tables()) {
           if (t.is_system() || system_catalog::access_table_by_design(t)) continue;
           const std::string found_as = "Recovered_Table_" + std::to_string(t.definition_page);
           e.changed[t.name] = {found_as, rows_of(db, t.name)};
           e.differs[t.name] = {0, 0};
           e.differs[found_as] = {0, 0};
         }
         e.catalog_damaged = true;
         return e;
       }},
  };
  return all;
}

const Damage& damage(const std::string& name) {
  for (const Damage& d : damages()) {
    if (name == d.name) return d;
  }
  throw std::invalid_argument(name);
}

// The name in `tables` of the table found without its catalog row at
// `page`: Recovered_Table_<page>, or where the order cannot key that, a
// name of letters ending in the page's digits as the letters A to J.
std::string recovered_name_in(const std::map<std::string, std::size_t>& tables, const std::string& page) {
  const std::string plain = "Recovered_Table_" + page;
  if (tables.count(plain)) return plain;
  std::string letters;
  for (char digit : page) letters += static_cast<char>('A' + (digit - '0'));
  for (const auto& [name, rows] : tables) {
    if (name.ends_with(letters) && (name.starts_with("Recovered") || name.starts_with("Table"))) return name;
  }
  return plain;
}

// `expected` with each table found without its catalog row under the
// name it has in `tables`.
Expected named_as_in(Expected expected, const std::map<std::string, std::size_t>& tables) {
  constexpr std::string_view kFound = "Recovered_Table_";
  const auto rename = [&](const std::string& name) {
    return name.starts_with(kFound) ? recovered_name_in(tables, name.substr(kFound.size())) : name;
  };
  for (auto& [table, kept] : expected.changed) kept.first = rename(kept.first);
  std::map<std::string, std::pair<long, long>> differs;
  for (const auto& [table, counts] : expected.differs) differs[rename(table)] = counts;
  expected.differs = std::move(differs);
  return expected;
}

struct Case {
  const char* file;
  const char* damage;
  // Why the copy in the order is refused (a part of the message naming the
  // index), or none when it repairs.
  const char* refused = nullptr;
};

class RepairInItsOrder : public Repair {
 protected:
  void repairs(const Expected& damage_done) {
    const CompactResult result = compact();
    auto copy = open_db(compacted_);
    EXPECT_EQ(copy->header().sort_order, source_->header().sort_order);
    const auto before = row_counts(*source_);
    const auto after = row_counts(*copy);
    const Expected expected = named_as_in(damage_done, after);
    for (const auto& [table, rows] : before) {
      if (table.starts_with("MSys") || expected.changed.count(table)) continue;
      ASSERT_TRUE(after.count(table)) << table;
      EXPECT_EQ(after.at(table), rows) << table;
    }
    for (const auto& [table, kept] : expected.changed) {
      const auto& [name, rows] = kept;
      if (name.empty()) {
        EXPECT_FALSE(after.count(table)) << table;
      } else {
        ASSERT_TRUE(after.count(name)) << name;
        EXPECT_EQ(after.at(name), rows) << name;
      }
      // What is lost is logged.
      if (name.empty() || rows < before.at(table)) {
        EXPECT_TRUE(std::any_of(result.losses.begin(), result.losses.end(),
                                [&](const CompactLoss& l) { return l.table == table; }))
            << table;
      }
    }
    if (expected.logged) {
      EXPECT_FALSE(result.losses.empty());
      expect_jetdiff(expected.differs, expected.catalog_damaged);
    } else {
      EXPECT_TRUE(result.losses.empty());
      expect_same_data_as_original();
    }
  }

  // The copy in the order is refused (3251) naming the index and `why`,
  // with nothing written.
  void refused(const std::string& why) {
    CompactRequest request;
    request.source_path = damaged_.string();
    request.destination_path = compacted_.string();
    try {
      compact_database(request);
      ADD_FAILURE() << "an index whose keys can neither be formed nor carried was copied";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kNotBuiltYet) << e.description();
      EXPECT_NE(e.description().find("The stored index '"), std::string::npos) << e.description();
      EXPECT_NE(e.description().find(why), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("General"), std::string::npos) << e.description();
    }
    EXPECT_FALSE(std::filesystem::exists(compacted_));
  }
};

TEST_F(RepairInItsOrder, EachDamageKeepsTheOrder) {
  const std::vector<Case> cases = {
      // Arabic (Jet 3), traditional Spanish, Japanese, Chinese: names in ASCII.
      {"w091.mdb", "zeroed data page"},
      {"w091.mdb", "garbled index page"},
      {"w091.mdb", "catalog row blanked"},
      {"w091.mdb", "catalog key repeated"},
      {"w017.mdb", "zeroed data page"},
      {"w017.mdb", "garbled index page"},
      {"w017.mdb", "catalog row blanked"},
      {"w017.mdb", "zeroed definition"},
      {"w015.mdb", "zeroed data page"},
      {"w015.mdb", "garbled index page"},
      {"w015.mdb", "catalog row blanked"},
      {"w015.mdb", "catalog lost every row"},
      {"w029.mdb", "zeroed data page"},
      {"w029.mdb", "garbled index page"},
      {"w029.mdb", "catalog row blanked"},
      {"w029.mdb", "zeroed usage map"},
      // The whole catalog lost: its index still holds the keys of the names
      // every catalog has, which teach the order (Chinese, Jet 3 Arabic).
      {"w029.mdb", "catalog lost every row"},
      {"w091.mdb", "catalog lost every row"},
      // The map of free pages, which the copy makes anew.
      {"w029.mdb", "free page map zeroed"},
      {"w015.mdb", "free page map zeroed"},
      {"w091.mdb", "free page map zeroed"},
      {"w077.mdb", "free page map zeroed"},
      // Objects named in the order's own script (Chinese, Japanese): their
      // catalog rows keep the keys Access stored for them.
      {"w069.mdb", "row with impossible offsets"},
      {"w069.mdb", "zeroed usage map"},
      {"w069.mdb", "zeroed definition"},
      {"w069.mdb", "catalog key repeated"},
      {"w159.mdb", "row with impossible offsets"},
      {"w019.mdb", "catalog key repeated"},
      // Croatian (letter pairs such as nj keyed as one letter; the ty of
      // Hungarian not, so a lost catalog's MSysComplexType_* key as General).
      {"w045.mdb", "zeroed data page"},
      {"a123.accdb", "catalog lost every row"},
      // Hungarian: ty keys as one letter, with the codes the lost catalog's
      // entries for the MSysComplexType_* tables show.
      {"a049.accdb", "catalog lost every row"},
      {"w045.mdb", "catalog row blanked"},
      {"w045.mdb", "row with impossible offsets"},
      // Turkish (Jet 4; the capital I keyed as another letter).
      {"w077.mdb", "zeroed usage map"},
      {"w101.mdb", "row with impossible offsets"},
      // ... whose codes the file's own names show (MSysNavPaneObjectIDs).
      {"w077.mdb", "catalog lost every row"},
      // Turkish in Jet 3 keys text in a form of its own, two bytes a letter,
      // which the file's entries show for the letters they hold.
      {"w041.mdb", "zeroed data page"},
      {"w041.mdb", "garbled index page"},
      // ... and a lost catalog's entries show the letters of MSysObjects.
      {"w041.mdb", "catalog lost every row"},
      // Two rows named in the order's script under one key: neither is proven.
      {"w157.mdb", "catalog key repeated", "'ParentIdName' of table MSysObjects"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + ": " + c.damage);
    const bool ace = std::string_view(c.file).ends_with(".accdb");
    if (!take(ace ? "ace" : "wild", c.file, c.damage)) GTEST_SKIP() << "sample database absent: " << original_;
    const std::optional<Expected> expected = damage(c.damage).apply(*source_, damaged_);
    ASSERT_TRUE(expected) << "the damage found nothing to do";
    if (c.refused != nullptr) {
      refused(c.refused);
    } else {
      repairs(*expected);
    }
  }
}


// Korean (ACE) keys every letter with codes of its own, one run per
// character as in General, which the file's entries show. Damage to the
// only table with rows (a multi-valued field's values) and to the catalog's
// keys repairs in that order: the copy checks clean and compacts again
// without a log. With the catalog lost, the entries its index keeps for
// the names every catalog holds show the letters no other entry does (the
// Q of MSysQueries).
TEST_F(RepairInItsOrder, KoreanRepairsInItsOwnForm) {
  for (const char* kind :
       {"zeroed data page", "garbled index page", "zeroed definition", "catalog key repeated", "catalog lost every row"}) {
    SCOPED_TRACE(kind);
    if (!take("ace", "a139.accdb", kind)) GTEST_SKIP() << "sample database absent: " << original_;
    ASSERT_TRUE(damage(kind).apply(*source_, damaged_));
    compact();
    EXPECT_EQ(open_db(compacted_)->header().sort_order, source_->header().sort_order);
  }
}

// A table found without its catalog row is named Recovered_Table_<page>;
// where the order's keys for its digits and signs are not known (Jet 3
// Turkish shows letters only), it gets a name of letters the order keys,
// and the log names it so.
TEST_F(RepairInItsOrder, RecoveredTableNamedInLettersTheOrderKeys) {
  if (!take("wild", "w041.mdb")) GTEST_SKIP() << "sample database absent: " << original_;
  const std::string table = biggest_table_page(*source_).first;
  ASSERT_FALSE(table.empty());
  for (const CatalogEntry& c : source_->catalog()) {
    if (c.name == table) blank_row(damaged_, *source_, c.where);
  }
  const CompactResult result = compact();
  const auto after = row_counts(*open_db(compacted_));
  const std::string digits = std::to_string(source_->table(table).definition_page);
  const auto found = after.find(recovered_name_in(after, digits));
  ASSERT_NE(found, after.end());
  EXPECT_NE(found->first, "Recovered_Table_" + digits);
  EXPECT_EQ(found->second, row_counts(*source_).at(table));
  EXPECT_TRUE(std::any_of(result.losses.begin(), result.losses.end(), [&](const CompactLoss& l) {
    return l.table == found->first && l.description.find("put into table " + found->first) != std::string::npos;
  }));
}

// Text in the order's own script under a garbled index: no key can be
// formed or carried for those rows, so they leave the table, each logged
// naming the index: a user table's go to its recovery table, Access's own
// tables' are left out. The rest of the table and the database are
// repaired in the order.
TEST_F(RepairInItsOrder, RowsAGarbledIndexCannotKeyLeaveTheirTable) {
  const struct {
    const char* file;
    const char* table;  // the table whose text index is garbled
    bool recovered;     // its rows go to a recovery table
  } cases[] = {{"w045.mdb", "Akcionari", true}, {"w159.mdb", "MSysAccessStorage", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    if (!take("wild", c.file)) GTEST_SKIP() << "sample database absent: " << original_;
    const auto garbled = garble_text_index(*source_, damaged_);
    ASSERT_TRUE(garbled && garbled->first == c.table);
    const CompactResult result = compact();
    auto copy = open_db(compacted_);
    EXPECT_EQ(copy->header().sort_order, source_->header().sort_order);
    const auto before = row_counts(*source_);
    const auto after = row_counts(*copy);
    const std::string recovery = std::string(c.table) + "_Recovered";
    EXPECT_EQ(after.count(recovery), c.recovered ? 1u : 0u);
    const std::size_t left = before.at(c.table) - after.at(c.table);
    EXPECT_GT(left, 0u);
    if (c.recovered) {
      EXPECT_EQ(after.at(recovery), left);
    }
    for (const auto& [table, rows] : before) {
      if (table != c.table && !table.starts_with("MSys")) {
        EXPECT_EQ(after.at(table), rows) << table;
      }
    }
    ASSERT_EQ(result.losses.size(), left);
    for (const CompactLoss& loss : result.losses) {
      EXPECT_EQ(loss.code, errc::kNotBuiltYet);
      EXPECT_EQ(loss.table, c.table);
      EXPECT_NE(loss.description.find("has no key in index"), std::string::npos) << loss.description;
    }
    // To the outside readers, only the rows that moved differ.
    std::map<std::string, std::pair<long, long>> differs{{c.table, {static_cast<long>(left), 0}}};
    if (c.recovered) differs[recovery] = {0, static_cast<long>(left)};
    expect_jetdiff(differs);
  }
}

}  // namespace
}  // namespace jet
