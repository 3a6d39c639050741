// Repair in the source's own collating order: each kind of damage done to
// files in orders other than General (Arabic, Spanish, Japanese, Chinese)
// compacts with the default order into a copy in that order, which checks
// clean and keeps the rows of every table the damage did not touch. The
// keys the repair must form (its log table, recovered tables, an index
// rebuilt) come from what the file's own entries show of its order. A
// repair of the catalog keys every catalog row itself, so a file whose
// objects have names in its own script (which no entry shows keyed as
// General) is still refused naming the order, and converted on request.
#include <gtest/gtest.h>

#include "engine/salvage/tests/repair_fixture.h"

namespace jet {
namespace {

using namespace repair_testing;

struct Damage {
  const char* name;
  // Damages the copy; returns the table whose rows it may cost ("" none).
  std::function<std::string(Repair&, Database&, const std::filesystem::path&)> apply;
};

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

const std::vector<Damage>& damages() {
  static const std::vector<Damage> all = {
      {"zeroed data page",
       [](Repair&, Database& db, const std::filesystem::path& file) {
         const auto [table, page] = biggest_table_page(db);
         zero_page(file, page, db.page_size());
         return table;
       }},
      {"garbled index page",
       [](Repair&, Database& db, const std::filesystem::path& file) {
         const auto garbled = garble_text_index(db, file);
         return garbled ? std::string() : std::string("?");
       }},
      {"catalog row blanked",  // the catalog
       [](Repair&, Database& db, const std::filesystem::path& file) {
         const auto [table, page] = biggest_table_page(db);
         for (const CatalogEntry& e : db.catalog()) {
           if (e.name == table) blank_row(file, db, e.where);
         }
         return table;
       }},
  };
  return all;
}

class RepairInItsOrder : public Repair {};

TEST_F(RepairInItsOrder, EachDamageKeepsTheOrder) {
  for (const char* file : {"w091.mdb", "w017.mdb", "w015.mdb", "w029.mdb"}) {
    for (const Damage& damage : damages()) {
      SCOPED_TRACE(std::string(file) + ": " + damage.name);
      if (!take("wild", file, damage.name)) GTEST_SKIP() << "sample database absent: " << original_;
      const std::string touched = damage.apply(*this, *source_, damaged_);
      ASSERT_NE(touched, "?") << "the damage found nothing to do";
      bool ascii_names = true;
      for (const CatalogEntry& e : source_->catalog()) {
        for (char c : e.name) ascii_names = ascii_names && c >= 0x20 && c < 0x7F;
      }
      const bool catalog_repair = std::string(damage.name) == "catalog row blanked";
      if (catalog_repair && !ascii_names) {
        refused_in_its_order_then_converted("sort order");
        continue;
      }
      compact();
      auto copy = open_db(compacted_);
      EXPECT_EQ(copy->header().sort_order, source_->header().sort_order);
      const auto before = row_counts(*source_);
      const auto after = row_counts(*copy);
      for (const auto& [table, rows] : before) {
        if (table == touched || table.starts_with("MSys")) continue;
        const auto it = after.find(table);
        ASSERT_NE(it, after.end()) << table;
        EXPECT_EQ(it->second, rows) << table;
      }
    }
  }
}

}  // namespace
}  // namespace jet
