#include "engine/salvage/salvage_reader.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "engine/error.h"
#include "engine/file/file_errors.h"
#include "engine/format/calculated_value.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/property_map.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/format/text_codec.h"
#include "engine/format/usage_map.h"
#include "engine/index/index_findings.h"
#include "engine/index/index_tree_reader.h"
#include "engine/model/access_tables.h"
#include "engine/model/system_catalog.h"
#include "engine/read/database.h"
#include "engine/write/index_rebuild.h"
#include "engine/write/write_format.h"
#include "engine/salvage/page_survey.h"
#include "engine/salvage/salvage_damage.h"
#include "engine/salvage/table_salvager.h"

namespace jet::salvage {

std::uint32_t record_id(RowPointer row) { return (row.page << 8) | (row.row & 0xFFu); }

namespace {

using system_catalog::kCatalogPage;

// One catalog row as far as finding tables needs it.
struct CatalogRow {
  RowPointer where;
  std::int32_t id = 0;
  std::int32_t parent_id = 0;
  std::string name;
  std::int16_t type = 0;
  std::uint32_t flags = 0;
  Bytes properties;  // LvProp, empty when its long value is lost
  // Id, ParentId, Name or Type is NULL: every object has all four (so do
  // all rows of the sample files' catalogs), so such a row names nothing.
  bool names_nothing = false;
};

// A table's definition and usage-map rows, read without trusting the maps
// (the strict reader's table_at refuses a table whose map row is gone).
// `properties` (the catalog row's LvProp) give calculated columns their
// result types; without them, or when they are damaged, the columns keep
// their descriptors' types.
TableDef read_definition(Database& db, PageNumber first, const std::string& name, const Bytes& properties = {}) {
  const JetFormat& f = db.format();
  std::vector<PageNumber> chain;
  const Bytes joined =
      join_table_definition(f, [&db](PageNumber p) { return db.page(p); }, first, db.page_count(), &chain);
  TableDef t = parse_table_definition(f, joined, db.header().code_page);
  if (const std::optional<std::string> why = column_placement_fault(t)) damaged(*why);
  t.name = name;
  t.definition_page = first;
  t.definition_pages = std::move(chain);
  if (!properties.empty()) damage_of([&] { apply_calculated_result_types(t, parse_property_maps(properties)); });
  for (const auto& slot : {std::pair{t.owned_map_row, &t.usage_map_owned}, std::pair{t.free_map_row, &t.usage_map_free}}) {
    if (slot.first.page == 0) continue;
    damage_of([&] {
      if (auto bytes = db.read_row_bytes(slot.first)) *slot.second = std::move(*bytes);
    });
  }
  return t;
}

// The columns every catalog has and the copy's readers look objects up by.
// A catalog definition that lost one of them cannot name any table: that
// is the one damage the repair gives up on.
void require_catalog_columns(const TableDef& catalog) {
  const std::pair<const char*, ColumnType> needed[] = {{"Id", ColumnType::Long},
                                                       {"ParentId", ColumnType::Long},
                                                       {"Name", ColumnType::Text},
                                                       {"Type", ColumnType::Integer},
                                                       {"Flags", ColumnType::Long}};
  for (const auto& [name, type] : needed) {
    const Column* c = catalog.find_column(name);
    if (c == nullptr || c->type != type) {
      throw Error(errc::kCannotOpenDatabase,
                  std::string("The database cannot be repaired: the definition of its catalog (MSysObjects, page 2) "
                              "is damaged (column ") + name + " is missing or of the wrong type).");
    }
  }
}

// Object names are compared without regard to case, as Access does for
// the ASCII names of its own tables.
bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<CatalogRow> catalog_row(Database& db, const TableDef& catalog, RowPointer where) {
  CatalogRow out;
  out.where = where;
  const std::optional<std::string> why = damage_of([&] {
    const std::optional<Bytes> bytes = db.read_row_bytes(where);
    if (!bytes) damaged("deleted");
    const Row row = values_without_long_ones(db, catalog, *bytes);
    for (std::size_t i = 0; i < catalog.columns.size(); ++i) {
      const std::string& c = catalog.columns[i].name;
      const Value& v = row[i];
      if (c == "Id") out.id = static_cast<std::int32_t>(v.integer);
      if (c == "ParentId") out.parent_id = static_cast<std::int32_t>(v.integer);
      if (c == "Name") out.name = utf16_to_utf8(v.text);
      if (c == "Type") out.type = static_cast<std::int16_t>(v.integer);
      if (c == "Flags") out.flags = static_cast<std::uint32_t>(v.integer);
      if ((c == "Id" || c == "ParentId" || c == "Name" || c == "Type") && v.is_null) out.names_nothing = true;
    }
    const std::vector<RawField> fields = split_row(db.format(), catalog, *bytes);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (catalog.columns[i].name != "LvProp" || fields[i].null || !is_long_value(catalog.columns[i].type)) continue;
      damage_of([&] { out.properties = db.read_long_value(fields[i].bytes); });
    }
  });
  if (why) return std::nullopt;
  return out;
}

// The object ids the permissions table (MSysACEs) holds rows for, as far as
// its rows can be read.
std::set<std::int32_t> ids_with_permissions(Database& db, const std::vector<SalvagedTable>& tables) {
  std::set<std::int32_t> out;
  for (const SalvagedTable& t : tables) {
    if (system_catalog::engine_table_name(t.def) != std::optional<std::string>("MSysACEs")) continue;
    const Column* object = t.def.find_column("ObjectId");
    if (object == nullptr) continue;
    const auto at = static_cast<std::size_t>(object - t.def.columns.data());
    for (RowPointer where : t.rows) {
      damage_of([&] {
        if (const std::optional<Bytes> bytes = db.read_row_bytes(where)) {
          const Row row = values_without_long_ones(db, t.def, *bytes);
          if (!row[at].is_null) out.insert(static_cast<std::int32_t>(row[at].integer));
        }
      });
    }
  }
  return out;
}

// Table definitions that no catalog row names (the row was lost with a
// damaged catalog page): each comes back as Recovered_Table_<page>, since
// the name lived only in the catalog, with its rows or, when it has none,
// empty (its design is the user's work too).
// The engine's and Access's own tables are the exception: their design
// tells their name, and the copy needs them under it (one of them under
// another name would be a table of the user's). An engine table whose
// design is not known, or one whose name another table already has, is
// left out (logged).
// Definitions of deleted tables mostly sit on pages the database's map
// marks free, but not always: real files keep some on pages still marked
// used. Such a leftover holds no rows, so an empty definition is taken for
// a table only when the permissions (MSysACEs) still list its id and no
// catalog row of another object holds that id.
void recover_unnamed_tables(Database& db, const PageSurvey& pages, std::set<PageNumber>& table_pages,
                            const std::set<PageNumber>& named, const std::set<std::int32_t>& catalog_ids,
                            std::set<std::string>& names, SalvagedDatabase& out, const SalvageOptions& options) {
  // Empty ones wait until the permissions table is found, which may itself
  // be among the definitions found here.
  struct Empty {
    PageNumber page;
    SalvagedTable table;
    LossLog log;
  };
  std::vector<Empty> empty;
  for (PageNumber p : pages.definition_pages) {
    if (named.count(p) || pages.continuations.count(p) || pages.free.count(p)) continue;
    std::optional<TableDef> def;
    const std::string name = "Recovered_Table_" + std::to_string(p);
    if (damage_of([&] { def = read_definition(db, p, name); })) continue;  // a fragment: nothing to go on
    if (def->is_system()) {
      const std::optional<std::string> engine_name = system_catalog::engine_table_name(*def);
      if (!engine_name || names.count(*engine_name)) {
        out.log.add(kLossDamaged, def->name,
                    "A system table at page " + std::to_string(p) + " that no catalog row names was left out" +
                        (engine_name ? " (the catalog names another " + *engine_name + ")." : "."));
        continue;
      }
      def->name = *engine_name;
      names.insert(*engine_name);
      table_pages.insert(p);
      SalvagedTable t = salvage_table(db, pages, table_pages, out.log, true, options, std::move(*def));
      t.named_by_catalog = false;
      out.tables.push_back(std::move(t));
      continue;
    }
    if (const std::optional<system_catalog::AccessTable> access = system_catalog::access_table_by_design(*def)) {
      if (names.count(access->name)) {
        out.log.add(kLossDamaged, def->name,
                    "A table at page " + std::to_string(p) + " that no catalog row names has the design of " +
                        access->name + ", which the catalog names at another page; it was left out.");
        continue;
      }
      def->name = access->name;
      names.insert(access->name);
      table_pages.insert(p);
      SalvagedTable t = salvage_table(db, pages, table_pages, out.log, false, options, std::move(*def));
      t.named_by_catalog = false;
      t.access_flags = access->flags;
      out.log.add(kLossDamaged, access->name,
                  "The catalog row of " + access->name + " (page " + std::to_string(p) +
                      ") was lost; the table was given back under its name, known by its design.");
      out.tables.push_back(std::move(t));
      continue;
    }
    table_pages.insert(p);
    LossLog log;
    SalvagedTable t = salvage_table(db, pages, table_pages, log, false, options, std::move(*def));
    if (t.rows.empty() && t.set_aside.empty()) {
      empty.push_back(Empty{p, std::move(t), std::move(log)});
      continue;
    }
    out.log.add(kLossSetAside, name,
                "The definition of a table at page " + std::to_string(p) + " is named by no catalog row; its " +
                    rows_text(t.rows.size()) + were(t.rows.size()) + " put into table " + name +
                    " for you to check and rename.");
    for (const Loss& loss : log.entries()) out.log.add(loss.code, loss.table, loss.description, loss.row);
    t.named_by_catalog = false;
    out.tables.push_back(std::move(t));
  }
  const std::set<std::int32_t> permitted = ids_with_permissions(db, out.tables);
  for (Empty& e : empty) {
    const auto id = static_cast<std::int32_t>(e.page);
    if (permitted.count(id) == 0 || catalog_ids.count(id) != 0) {
      table_pages.erase(e.page);
      continue;
    }
    out.log.add(kLossSetAside, e.table.def.name,
                "The definition of a table at page " + std::to_string(e.page) +
                    " is named by no catalog row and holds no rows; its design was kept as table " +
                    e.table.def.name + " for you to check and rename.");
    for (const Loss& loss : e.log.entries()) out.log.add(loss.code, loss.table, loss.description, loss.row);
    e.table.named_by_catalog = false;
    out.tables.push_back(std::move(e.table));
  }
}

// A table found by its definition alone gets a catalog row of its own, with
// its page for id and, under the Tables container, its name. A kept row
// that claims either (one whose type was damaged, so it named no table) is
// damage: kept, it would clash with the new row in the unique indexes on
// Id and on the name.
void drop_rows_claiming_found_tables(const std::vector<CatalogRow>& entries, SalvagedDatabase& out) {
  for (const SalvagedTable& t : out.tables) {
    if (t.named_by_catalog || t.def.definition_page == kCatalogPage) continue;
    const auto id = static_cast<std::int32_t>(t.def.definition_page);
    for (const CatalogRow& e : entries) {
      if (out.dropped_catalog_rows.count(e.where)) continue;
      const bool its_id = e.id == id;
      const bool its_name = e.parent_id == system_catalog::kTablesContainerId && same_name(e.name, t.def.name);
      if (!its_id && !its_name) continue;
      out.log.add(kLossDamaged, "MSysObjects",
                  "A catalog row of type " + std::to_string(e.type) + " named '" + e.name + "' with id " +
                      std::to_string(e.id) + " was left out: it claims the " + (its_id ? "id" : "name") +
                      " of table " + t.def.name + " (page " + std::to_string(t.def.definition_page) +
                      "), which no sound catalog row names, so it is damaged.",
                  e.where);
      out.dropped_catalog_rows.insert(e.where);
    }
  }
}

}  // namespace

Row values_without_long_ones(Database& db, const TableDef& table, std::span<const std::uint8_t> bytes) {
  const std::vector<RawField> fields = split_row(db.format(), table, bytes);
  Row row(table.columns.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    row[i].type = table.columns[i].type;
    if (is_long_value(table.columns[i].type)) continue;
    row[i] = decode_field(db.format(), table.columns[i], fields[i], db.header().code_page,
                          [](std::span<const std::uint8_t>) -> Bytes { damaged("a long value where none belongs"); });
  }
  return row;
}

SalvagedDatabase salvage_database(Database& db, const SalvageOptions& options) {
  SalvagedDatabase out;
  const PageSurvey pages = survey_pages(db);
  TableDef catalog_def;
  try {
    catalog_def = read_definition(db, kCatalogPage, "MSysObjects");
  } catch (const DamagedData& e) {
    throw Error(errc::kCannotOpenDatabase,
                std::string("The database cannot be repaired: the definition of its catalog (MSysObjects, page 2) "
                            "is damaged (") + e.what() + ").");
  }
  require_catalog_columns(catalog_def);

  // Table ids the catalog names: pages a reused data page may name as owner.
  std::set<PageNumber> table_pages{kCatalogPage};
  SalvagedTable catalog = salvage_table(db, pages, table_pages, out.log, true, options, catalog_def);
  std::vector<CatalogRow> entries;
  for (RowPointer where : catalog.rows) {
    if (auto e = catalog_row(db, catalog.def, where)) {
      if (e->names_nothing) {
        // A blanked row (its null mask zeroed, say): kept, it would be a
        // catalog row of no object.
        out.log.add(kLossDamaged, catalog.def.name,
                    "The catalog row at page " + std::to_string(where.page) + ", slot " + std::to_string(where.row) +
                        " has no id, parent, name or type: it names no object, so it is damaged and was left out.",
                    where);
        out.dropped_catalog_rows.insert(where);
        continue;
      }
      entries.push_back(*e);
      if (e->type == object_type::kTable) table_pages.insert(static_cast<PageNumber>(e->id) & 0x00FFFFFFu);
    }
  }
  // The catalog lists itself; where that row was lost the copy gets it back,
  // or the new file would hold a catalog no reader can find by name.
  // Its id is its page. A row that claims that id or the catalog's name but
  // is not the catalog's own row is damage: kept, it would clash with the
  // catalog's row in the unique indexes on Id and on the name.
  catalog.named_by_catalog = false;
  for (const CatalogRow& e : entries) {
    const bool own_id = e.id == static_cast<std::int32_t>(kCatalogPage);
    const bool own_name = e.type == object_type::kTable && same_name(e.name, catalog.def.name);
    if (!own_id && !own_name) continue;
    if (own_id && own_name && !catalog.named_by_catalog) {
      catalog.named_by_catalog = true;
      continue;
    }
    out.log.add(kLossDamaged, catalog.def.name,
                "A catalog row of type " + std::to_string(e.type) + " named '" + e.name + "' with id " +
                    std::to_string(e.id) + " was left out: it claims the catalog's own " +
                    (own_id ? "id" : "name") + ", so it is damaged.",
                e.where);
    out.dropped_catalog_rows.insert(e.where);
  }
  std::set<std::string> names{catalog.def.name};
  out.tables.push_back(std::move(catalog));

  std::set<PageNumber> done{kCatalogPage};
  for (const CatalogRow& e : entries) {
    if (e.type != object_type::kTable) continue;
    const PageNumber first = static_cast<PageNumber>(e.id) & 0x00FFFFFFu;
    if (!done.insert(first).second) continue;
    std::optional<TableDef> def;
    const std::optional<std::string> why = damage_of([&] { def = read_definition(db, first, e.name, e.properties); });
    if (why) {
      // Without its definition a table's rows cannot be read at all; the
      // rest of the database still can (a missing engine table is one
      // Access makes again).
      const bool system = (e.flags & 0x80000002u) != 0;
      out.log.add(kLossDamaged, e.name,
                  std::string(system ? "System table " : "Table ") + e.name +
                      " was left out with all its rows: its definition (page " + std::to_string(first) +
                      ") is damaged (" + *why + ").");
      out.dropped_catalog_rows.insert(e.where);
      continue;
    }
    const bool system = (e.flags & 0x80000002u) != 0;
    names.insert(e.name);
    out.tables.push_back(salvage_table(db, pages, table_pages, out.log, system, options, std::move(*def)));
  }
  std::set<std::int32_t> catalog_ids;
  for (const CatalogRow& e : entries) {
    if (!out.dropped_catalog_rows.count(e.where)) catalog_ids.insert(e.id);
  }
  recover_unnamed_tables(db, pages, table_pages, done, catalog_ids, names, out, options);
  drop_rows_claiming_found_tables(entries, out);
  for (const CatalogRow& e : entries) {
    if (out.dropped_catalog_rows.count(e.where) == 0) out.catalog_objects.push_back({e.id, e.parent_id, e.name});
  }
  const bool user_table_left = std::any_of(out.tables.begin(), out.tables.end(),
                                           [](const SalvagedTable& t) { return !t.def.is_system(); });
  if (entries.empty() && !user_table_left) {
    throw Error(errc::kCannotOpenDatabase,
                "The database cannot be repaired: its catalog (MSysObjects) lost every row and no table of yours "
                "was found on its pages.");
  }
  if (!out.dropped_catalog_rows.empty()) {
    std::vector<RowPointer>& rows = out.tables.front().rows;
    std::erase_if(rows, [&](RowPointer r) { return out.dropped_catalog_rows.count(r) != 0; });
  }
  return out;
}

void rename_unkeyable_recovered_tables(SalvagedDatabase& salvaged,
                                       const std::function<bool(const std::string&)>& keyable) {
  constexpr std::string_view kUsual = "Recovered_Table_";
  std::set<std::string> names;
  for (const SalvagedTable& t : salvaged.tables) names.insert(t.def.name);
  for (SalvagedTable& t : salvaged.tables) {
    const std::string old_name = t.def.name;
    if (t.named_by_catalog || t.access_flags || !old_name.starts_with(kUsual) || keyable(old_name)) continue;
    std::string letters;
    for (char digit : old_name.substr(kUsual.size())) {
      if (digit < '0' || digit > '9') return;  // not a name the reader gave
      letters += static_cast<char>('A' + (digit - '0'));
    }
    // Shorter names need fewer letters the file's keys must show.
    std::string name;
    for (const char* start : {"RecoveredTable", "Recovered", "Table"}) {
      const std::string candidate = start + letters;
      if (names.count(candidate) == 0 && keyable(candidate)) {
        name = candidate;
        break;
      }
    }
    if (name.empty()) continue;
    names.insert(name);
    t.def.name = name;
    for (Loss& loss : salvaged.log.mutable_entries()) {
      if (loss.table == old_name) loss.table = name;
      // The old name ends in digits: a longer number never starts with it
      // followed by another digit in the log's sentences.
      for (std::size_t at = loss.description.find(old_name); at != std::string::npos;
           at = loss.description.find(old_name, at + name.size())) {
        const std::size_t end = at + old_name.size();
        if (end < loss.description.size() && std::isdigit(static_cast<unsigned char>(loss.description[end]))) {
          at = end - name.size();
          continue;
        }
        loss.description.replace(at, old_name.size(), name);
      }
    }
  }
}

}  // namespace jet::salvage
