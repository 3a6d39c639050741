#pragma once
// Reading the properties Access keeps for a table and its columns in the
// catalog (MSysObjects.LvProp): the table's map and one map per column,
// each a list of named, typed values. The engine needs few of them (a
// calculated column's result type); the rest are carried as stored.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/value.h"

namespace jet {

struct Property {
  std::string name;       // UTF-8
  std::uint8_t type = 0;  // a column type code: 1 Yes/No, 2 Byte, 4 Long, 10 Text, ...
  Bytes value;            // as stored
};

struct PropertyMap {
  std::string name;  // the column's name; empty for the table's own map
  std::vector<Property> properties;
  const Property* find(std::string_view property) const;
};

// The maps of one LvProp value of a Jet 4 or ACE file ("MR2" and blocks).
// Empty for an empty value or another form (Jet 3 files keep theirs in
// code-page text); throws DamagedData when a block or entry overruns the
// value.
std::vector<PropertyMap> parse_property_maps(std::span<const std::uint8_t> stored);

// Throws DamagedData unless `stored` is a property value as Access writes
// one: the signature of its version ("MR2" Jet 4 and ACE, "KKD" Jet 3),
// then names and map blocks that fill it exactly (Jet 4 and ACE entries
// read as well). Every LvProp of the sample files is so.
void check_property_blob(std::span<const std::uint8_t> stored);

}  // namespace jet
