#pragma once
// Writes a table definition again at its new place: the stored definition is
// kept byte for byte except the fields that describe where things now are
// (usage maps, index roots, counts, related-table ids), then split over
// pages linked in a chain.
#include <cstdint>
#include <map>
#include <vector>

#include "engine/write/write_format.h"

namespace jet::write {

using Bytes = std::vector<std::uint8_t>;

// Offsets of the patchable fields inside one joined definition.
struct TableDefinitionLayout {
  std::uint32_t real_index_count = 0;
  std::uint32_t logical_index_count = 0;
  std::uint32_t real_indexes_at = 0;     // first physical index descriptor
  std::uint32_t logical_indexes_at = 0;  // first logical index descriptor
  std::uint32_t column_maps_at = 0;      // first (column, owned map, free map) record
  std::uint32_t column_map_count = 0;
  std::vector<std::uint16_t> column_map_columns;  // column number of each record
};

// Throws jet::Error 3049 when the counts and names do not fit the bytes.
TableDefinitionLayout scan_table_definition(const WriteFormat& format, const Bytes& definition);

struct MapReference {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
};

struct TableDefinitionUpdate {
  std::uint32_t row_count = 0;
  std::uint32_t next_autonumber = 0;
  MapReference owned_map;
  MapReference free_map;
  std::vector<std::uint32_t> index_row_counts;     // per physical index
  std::vector<std::uint32_t> index_roots;          // per physical index
  std::vector<MapReference> index_maps;            // per physical index
  std::vector<MapReference> column_owned_maps;     // per column map record
  std::vector<MapReference> column_free_maps;
  std::map<std::uint32_t, std::uint32_t> table_ids;  // old id -> new id (foreign keys)
};

// The definition with the update applied (same length).
Bytes patch_table_definition(const WriteFormat& format, const Bytes& definition, const TableDefinitionLayout& layout,
                             const TableDefinitionUpdate& update);

// Pages the definition occupies.
std::uint32_t table_definition_page_count(const WriteFormat& format, const Bytes& definition);

// Splits the definition over pages `pages` (as many as table_definition_page_count).
std::vector<Bytes> split_table_definition(const WriteFormat& format, const Bytes& definition,
                                          const std::vector<std::uint32_t>& pages);

// Joins a definition's pages again (the reader's view, for tests).
Bytes join_table_definition(const WriteFormat& format, const std::vector<Bytes>& pages);

}  // namespace jet::write
