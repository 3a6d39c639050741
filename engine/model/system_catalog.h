#pragma once
// What every database's catalog (MSysObjects) holds whoever made it: the
// root's three containers and the database object, under ids the engine
// fixes, and the engine's own tables, marked by their table type (0x53)
// and told apart by their columns. A new database gets them from the
// builder; a repair writes again those a damaged catalog lost.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet::system_catalog {

// The catalog's definition is always at page 2, and its id is that page.
inline constexpr PageNumber kCatalogPage = 2;

inline constexpr std::int32_t kRootId = 0x0F000000;
inline constexpr std::int32_t kTablesContainerId = 0x0F000001;
inline constexpr std::int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr std::int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr std::int32_t kMSysDbId = 0x10000000;

// Flags of the catalog rows of the engine's objects (its tables and the
// objects below); Access's own tables (MSysAccessObjects, MSysNavPane...)
// carry 2 or 10 and are ordinary tables to the engine.
inline constexpr std::uint32_t kEngineObjectFlags = 0x80000000u;

// Catalog Type values.
inline constexpr std::int16_t kTypeTable = 1;
inline constexpr std::int16_t kTypeDatabase = 2;
inline constexpr std::int16_t kTypeContainer = 3;

// Security ids a fresh database gives its built-in accounts. A file made
// under another workgroup holds its own; these serve only where a
// database's own are lost with its catalog.
inline const Bytes kAdminsSid{0x06, 0xE8};
inline const Bytes kEngineSid{0x06, 0xEA};
inline const Bytes kUsersSid{0x06, 0xED};
inline const Bytes kCreatorSid{0x07, 0xE8};

struct StandardObject {
  std::int32_t id;
  std::int32_t parent_id;
  const char* name;
  std::int16_t type;
  bool owned_by_engine;  // else by the database's creator
};

inline constexpr StandardObject kStandardObjects[] = {
    {kTablesContainerId, kRootId, "Tables", kTypeContainer, true},
    {kDatabasesContainerId, kRootId, "Databases", kTypeContainer, true},
    {kRelationshipsContainerId, kRootId, "Relationships", kTypeContainer, true},
    {kMSysDbId, kDatabasesContainerId, "MSysDb", kTypeDatabase, false},
};

// The name of one of the engine's tables, known by a column only its
// design has; nullopt for any other table.
inline std::optional<std::string> engine_table_name(const TableDef& t) {
  if (!t.is_system()) return std::nullopt;
  if (t.find_column("ParentId") != nullptr && t.find_column("Id") != nullptr) return "MSysObjects";
  if (t.find_column("ACM") != nullptr && t.find_column("SID") != nullptr) return "MSysACEs";
  if (t.find_column("Expression") != nullptr && t.find_column("Attribute") != nullptr) return "MSysQueries";
  if (t.find_column("szRelationship") != nullptr) return "MSysRelationships";
  return std::nullopt;
}

}  // namespace jet::system_catalog
