#pragma once
// The salvage reader: the repairing counterpart of the strict reader
// (engine/read). Where the strict reader stops at the first damage, this
// one reads every table as far as it can still be read and says what it
// could not: pages are found by their owner field and checked against the
// usage map, rows whose place or bytes are broken are passed over, long
// values whose chain is broken become NULL, and a user table whose
// definition is damaged is left out. SALVAGE.md has the rules.
//
// Everything it does is bounded by the file: each page is read a fixed
// number of times, chains are cut at the file's page count, lists hold at
// most one entry per row slot of the file.
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/model/schema.h"
#include "engine/model/value.h"
#include "engine/salvage/loss_log.h"

namespace jet {
class Database;
}

namespace jet::salvage {

struct SalvagedTable {
  TableDef def;
  // The table's readable live rows, in page and slot order.
  std::vector<RowPointer> rows;
  // Rows of a user table that only pages its usage map leaves out hold,
  // that no index of the table points at and that copy no row of the table:
  // they go to a recovery table beside it, never silently back.
  std::vector<RowPointer> set_aside;
  // Rows kept with some values made NULL (their long value could not be
  // read): every value of the row, as it is to be written.
  std::map<RowPointer, Row> repaired;
  // False for a table found by its definition page alone (its catalog row
  // is lost): the copy gives it a catalog row of its own.
  bool named_by_catalog = true;
  // For such a table that is one of Access's own, found by its design: the
  // flags its catalog row gets.
  std::optional<std::uint32_t> access_flags;
};

// Rows of a table that the copy cannot key in the source's collating order
// (write::UnkeyedRows): the table's id, the index, why, and where they are.
struct UnkeyedRowsOfTable {
  PageNumber table = 0;
  std::string index;
  std::string why;
  std::vector<RowPointer> rows;
};

struct SalvageOptions {
  // Resolve every Memo and OLE value, decode the values indexes key on and
  // look for rows repeating a unique key. Without, those are left to the
  // copy, which reads every value and forms every key anyway and whose
  // result is checked: compaction reads that way first, and again with
  // them when the copy fails on damage (3049).
  bool check_values = true;
  // Rows to take out of their tables, each logged: a user table's go to
  // its recovery table, the engine's and Access's own are left out. A
  // repair that cannot key some rows of one index thus keeps the rest of
  // the table, and the database, rather than refusing it all.
  std::vector<UnkeyedRowsOfTable> unkeyed;
};

// A catalog row that was kept: what the copy's catalog already holds.
struct CatalogObject {
  std::int32_t id = 0;
  std::int32_t parent_id = 0;
  std::string name;
};

struct SalvagedDatabase {
  // Every table whose definition could be read, catalog first, in catalog
  // order.
  std::vector<SalvagedTable> tables;
  std::vector<CatalogObject> catalog_objects;
  // Catalog rows of tables that were left out (their definition is damaged);
  // left out of the catalog's rows as well.
  std::set<RowPointer> dropped_catalog_rows;
  LossLog log;
};

// A row's values with its Memo and OLE values left NULL, so that a broken
// long value cannot hide the rest of the row. Throws DamagedData for a row
// that does not split.
Row values_without_long_ones(Database& db, const TableDef& table, std::span<const std::uint8_t> bytes);

// Reads the whole database the salvage way. Throws the strict reader's
// errors only when nothing can be salvaged (the catalog itself is
// unreadable).
SalvagedDatabase salvage_database(Database& db, const SalvageOptions& options = {});

// Gives each table found without its catalog row under the name
// Recovered_Table_<page> that `keyable` refuses (a collating order whose
// keys for digits or signs the file does not show) a name of letters it
// accepts where there is one: RecoveredTable, Recovered or Table, then the
// page number's digits as the letters A to J. The log follows.
void rename_unkeyable_recovered_tables(SalvagedDatabase& salvaged,
                                       const std::function<bool(const std::string&)>& keyable);

}  // namespace jet::salvage
