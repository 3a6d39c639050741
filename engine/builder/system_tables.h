#pragma once
// The system tables and catalog rows every fresh database holds, as
// Access (97 for Jet 3, 2000 for Jet 4) lays them out: MSysObjects (the catalog, always at page 2),
// MSysACEs, MSysQueries and MSysRelationships, the Tables, Databases and
// Relationships containers and the MSysDb object, with their permissions.
#include <cstdint>
#include <vector>

#include "engine/builder/table_layout.h"
#include "engine/model/system_catalog.h"
#include "engine/model/value.h"

namespace jet::build {

// Catalog ids of the containers and the database object.
using system_catalog::kDatabasesContainerId;
using system_catalog::kMSysDbId;
using system_catalog::kRelationshipsContainerId;
using system_catalog::kRootId;
using system_catalog::kTablesContainerId;

enum class SystemTable { kObjects, kAces, kQueries, kRelationships };
inline constexpr SystemTable kSystemTables[] = {SystemTable::kObjects, SystemTable::kAces, SystemTable::kQueries,
                                                SystemTable::kRelationships};

TableLayout system_table_layout(SystemTable which, JetVersion version);

// One MSysObjects row (values in the catalog's column order).
Row catalog_row(std::int32_t id, std::int32_t parent_id, const std::string& name, std::int16_t type,
                std::uint32_t flags, double created, const Bytes& owner);

// The catalog rows of a fresh file other than those of tables.
std::vector<Row> standard_catalog_rows(double created);
// The catalog row of a table whose definition starts at `page`.
Row table_catalog_row(std::uint32_t page, const std::string& name, bool system, double created);

// MSysACEs rows: permissions of the containers, MSysDb and the system
// tables (whose ids are their definition pages 2..5).
std::vector<Row> standard_ace_rows();

}  // namespace jet::build
