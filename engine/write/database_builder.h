#pragma once
// Creates a new database from scratch: its header, its system tables
// (MSysObjects, MSysACEs, MSysQueries, MSysRelationships) and the tables,
// indexes and rows asked for, laid out by the same rewriter compaction uses.
// Tests use it to make files the sample set lacks.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"
#include "engine/write/table_definition_builder.h"

namespace jet {
class Env;
}

namespace jet::write {

class BuiltSource;

class DatabaseBuilder {
 public:
  explicit DatabaseBuilder(JetVersion version);
  ~DatabaseBuilder();

  void set_password(const std::string& utf8);
  // Throws jet::Error 3251 for a table the builder cannot lay out, 3010
  // for a name already taken.
  void create_table(const TableDesign& design);
  // One value per column, in the design's order. A null AutoNumber gets the
  // next number.
  void append_row(const std::string& table, Row row);
  // Creates `path` (it must not exist) and writes the database.
  void write(const std::string& path, Env* env = nullptr);

 private:
  struct Table;
  friend class BuiltSource;
  Table& find(const std::string& name);
  void append_catalog_row(const TableDef& def);

  const JetFormat& format_;
  std::optional<std::u16string> password_;
  std::vector<std::unique_ptr<Table>> tables_;
};

}  // namespace jet::write
