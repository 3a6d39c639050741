#pragma once
// The tables Access (not the engine) keeps in a database: the navigation
// pane's, the storage of forms and reports, import specifications, the ACE
// complex types and the like. Their definitions are ordinary tables to the
// engine; only their catalog rows' flags say they are Access's. So when a
// repair finds one by its definition alone (its catalog row lost), its
// design is what tells its name: each design below is that of every file in
// the sample sets that has the table (Jet 3 to ACE, many countries), with the
// catalog flags all of those files give it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/schema.h"

namespace jet::system_catalog {

struct AccessTable {
  std::string name;
  std::uint32_t flags = 0;  // of its catalog row
  // The engine's bit (0x80000000) marks tables the engine owns in the
  // catalog; Access's own plain ones are owned by the database's creator.
  bool owned_by_engine() const { return (flags & 0x80000000u) != 0; }
};

// The Access table whose design `t`'s columns are (names and types, in any
// order), or nullopt. The engine's own tables (MSysObjects, MSysACEs,
// MSysQueries, MSysRelationships) are engine_table_name's.
std::optional<AccessTable> access_table_by_design(const TableDef& t);

// The names of Access's own tables, each once.
std::vector<std::string> access_table_names();

}  // namespace jet::system_catalog
