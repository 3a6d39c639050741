#include "engine/tests/compact_audit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "engine/error.h"
#include "engine/format/table_definition.h"
#include "engine/format/text_codec.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/write/little_endian.h"
#include "engine/write/write_format.h"

namespace jet::write_testing {

// Text keys are kept as the source stores them (and so are the keys of rows
// the encoder cannot key): the compacted index must then hold the source's
// stored keys of its live rows, one per row.
static void expect_carried_over(Database& source, const TableDef& t, const IndexData& index, const index::IndexTree& tree,
                         const std::vector<std::pair<RowPointer, Row>>& rows, index::Format format, bool repaired) {
  // A repair adds tables (the log, recovery tables) and their catalog rows.
  std::optional<TableDef> found;
  try {
    found = source.table(t.name);
  } catch (const Error&) {
    ASSERT_TRUE(repaired) << t.name << " is not in the source";
    return;
  }
  const TableDef& old_table = *found;
  const IndexData* old_index = nullptr;
  for (const IndexData& d : old_table.index_data) {
    if (d.number == index.number) old_index = &d;
  }
  ASSERT_NE(old_index, nullptr);
  const index::IndexTree old_tree = index::read_index_tree([&](PageNumber p) { return source.read_page(p); },
                                                           old_index->first_page, format, old_table.definition_page);
  std::set<RowPointer> live;
  source.scan_rows(old_table, [&](RowPointer at, const Row&) { live.insert(at); });
  std::multiset<Bytes> old_keys;
  std::set<RowPointer> listed;
  for (const auto& e : old_tree.entries) {
    if (live.count(e.row) != 0 && listed.insert(e.row).second) old_keys.insert(e.key);
  }
  std::multiset<Bytes> new_keys;
  std::set<RowPointer> new_rows;
  for (const auto& e : tree.entries) {
    new_keys.insert(e.key);
    new_rows.insert(e.row);
  }
  if (repaired) {
    EXPECT_TRUE(std::includes(new_keys.begin(), new_keys.end(), old_keys.begin(), old_keys.end())) << t.name;
  } else {
    EXPECT_EQ(new_keys, old_keys) << t.name;
  }
  EXPECT_EQ(new_rows.size(), tree.entries.size()) << t.name << ": a row listed twice";
  EXPECT_LE(new_rows.size(), rows.size());
}

// Compaction into the source's own order keeps the stored keys of indexes
// on text.
static bool keeps_stored_keys(Database& db, Database& source, const TableDef& t, const IndexData& index) {
  if (db.header().sort_order != source.header().sort_order) return false;
  for (const IndexColumn& ic : index.columns) {
    for (const Column& c : t.columns) {
      if (c.number == ic.column_number && (c.type == ColumnType::Text || c.type == ColumnType::Memo)) return true;
    }
  }
  return false;
}

// The rows of MSysComplexColumns with the table ids they hold as the names
// of those tables; empty without the table.
static std::multiset<std::vector<std::string>> complex_columns_by_name(Database& db) {
  std::multiset<std::vector<std::string>> out;
  const std::vector<CatalogEntry> catalog = db.catalog();
  std::map<std::int64_t, std::string> names;
  for (const CatalogEntry& e : catalog) names[e.id] = e.name;
  for (const CatalogEntry& e : catalog) {
    if (!e.is_table() || e.name != "MSysComplexColumns") continue;
    const TableDef t = db.table_of(e);
    db.scan_rows(t, [&](RowPointer, const Row& row) {
      std::vector<std::string> named;
      for (std::size_t i = 0; i < row.size(); ++i) {
        const std::string& c = t.columns[i].name;
        const bool table_id = c == "ConceptualTableID" || c == "FlatTableID" || c == "ComplexTypeObjectID";
        const auto it = names.find(row[i].integer);
        named.push_back(c + "=" + (table_id ? (it != names.end() ? it->second : "no table " + std::to_string(row[i].integer))
                                            : std::to_string(row[i].integer) + utf16_to_utf8(row[i].text)));
      }
      out.insert(named);
    });
  }
  return out;
}

void audit_compacted(Database& db, Database& source) {
  const JetFormat& f = db.format();
  // A repaired copy lists its losses in MSysCompactError.
  const auto has_log = [](Database& d) {
    for (const TableDef& t : d.tables()) {
      if (t.name == "MSysCompactError") return true;
    }
    return false;
  };
  const bool repaired = &db != &source && has_log(db) && !has_log(source);
  // Complex columns find their hidden tables by id; compaction renumbers
  // the tables, and those ids with them.
  if (&db != &source && !repaired) {
    EXPECT_EQ(complex_columns_by_name(db), complex_columns_by_name(source));
  }
  const index::Format index_format = db.version() == JetVersion::Jet4 ? index::Format::Jet4 : index::Format::Jet3;
  std::map<PageNumber, std::string> owner;
  auto claim = [&](PageNumber p, const std::string& who) {
    auto [it, fresh] = owner.emplace(p, who);
    EXPECT_TRUE(fresh) << "page " << p << " claimed by " << it->second << " and " << who;
  };
  auto map_pages = [&](std::uint32_t stored_reference) {
    const auto row = db.read_row_bytes(decode_row_pointer(stored_reference));
    EXPECT_TRUE(row.has_value());
    return row ? db.usage_map_pages(*row) : std::vector<PageNumber>{};
  };
  claim(0, "header");
  claim(1, "free-page map");
  const write::WriteFormat wf = write::WriteFormat::for_version(db.version() == JetVersion::Jet4);
  std::set<std::string> source_tables;
  for (const TableDef& t : source.tables()) source_tables.insert(t.name);
  for (const TableDef& t : db.tables()) {
    for (PageNumber p : t.definition_pages) claim(p, t.name + " definition");
    bool counts = false;
    for (const Column& c : t.columns) counts = counts || (c.is_autonumber() && c.type == ColumnType::Long);
    if (!counts && &db != &source && source_tables.count(t.name) != 0) {
      EXPECT_EQ(write::get_u32(t.raw, wf.tdef_autonumber_at), write::get_u32(source.table(t.name).raw, wf.tdef_autonumber_at))
          << t.name << ": a table without AutoNumber keeps its stored seed";
    }
    const std::vector<PageNumber> data = db.table_pages(t);
    for (PageNumber p : data) {
      const Bytes page = db.read_page(p);
      EXPECT_EQ(page[0], page_type::kData) << t.name << " page " << p;
      EXPECT_EQ(page[f.page_owner_offset] | (page[f.page_owner_offset + 1] << 8), static_cast<int>(t.definition_page & 0xFFFF));
      claim(p, t.name + " data");
    }
    const std::vector<PageNumber> free = db.usage_map_pages(t.usage_map_free);
    EXPECT_LE(free.size(), 1u) << t.name << ": freshly packed pages are full but the last";
    if (!data.empty()) {
      EXPECT_EQ(free, std::vector<PageNumber>{data.back()}) << t.name;
    }

    // Rows as the index encoder keys them, by their new places.
    std::vector<std::pair<RowPointer, Row>> rows;
    db.scan_rows(t, [&](RowPointer at, const Row& row) { rows.emplace_back(at, row); });
    EXPECT_EQ(rows.size(), t.row_count) << t.name;
    for (const IndexData& data_index : t.index_data) {
      const index::IndexTree tree = index::read_index_tree([&](PageNumber p) { return db.read_page(p); },
                                                           data_index.first_page, index_format, t.definition_page);
      EXPECT_TRUE(tree.notes.empty()) << t.name << ": " << (tree.notes.empty() ? "" : tree.notes.front());
      for (PageNumber p : tree.pages) claim(p, t.name + " index");
      const std::vector<PageNumber> mapped = map_pages(data_index.usage_map);
      EXPECT_EQ(std::set<PageNumber>(mapped.begin(), mapped.end()),
                std::set<PageNumber>(tree.pages.begin(), tree.pages.end()))
          << t.name << " index " << data_index.number << ": its usage map must list exactly its pages";
      const index::IndexKeyEncoder encoder(t, data_index, index_format);
      if (&db != &source && keeps_stored_keys(db, source, t, data_index)) {
        expect_carried_over(source, t, data_index, tree, rows, index_format, repaired);
        continue;
      }
      std::vector<index::IndexEntry> expected;
      try {
        for (const auto& [at, row] : rows) {
          if (auto key = encoder.key_for(row)) expected.push_back(index::IndexEntry{*key, at, 0});
        }
      } catch (const Error& e) {
        ASSERT_EQ(e.number(), errc::kNotBuiltYet);
        expect_carried_over(source, t, data_index, tree, rows, index_format, repaired);
        continue;
      }
      std::sort(expected.begin(), expected.end(),
                [](const index::IndexEntry& a, const index::IndexEntry& b) { return index::compare_entries(a, b) < 0; });
      ASSERT_EQ(tree.entries.size(), expected.size()) << t.name << " index " << data_index.number;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tree.entries[i].key, expected[i].key) << t.name << " index " << data_index.number << " entry " << i;
        EXPECT_EQ(tree.entries[i].row, expected[i].row) << t.name << " index " << data_index.number << " entry " << i;
      }
    }
  }
  // What is left: usage-map pages and long-value pages; nothing blank.
  for (PageNumber p = 1; p < db.page_count(); ++p) {
    if (owner.count(p)) continue;
    const Bytes page = db.read_page(p);
    const bool map_rows = page[0] == page_type::kData && page[4] == 0 && page[5] == 0 && page[6] == 0 && page[7] == 0;
    const bool long_values = page[0] == page_type::kData && page[4] == 'L' && page[5] == 'V';
    EXPECT_TRUE(map_rows || long_values || page[0] == page_type::kUsageMap) << "page " << p << " has no owner";
  }
}


}  // namespace jet::write_testing
