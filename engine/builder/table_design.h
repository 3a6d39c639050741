#pragma once
// What a caller asks the database builder to create: tables with their
// columns and indexes, described by name.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/column_type.h"

namespace jet::build {

struct ColumnDesign {
  std::string name;
  ColumnType type = ColumnType::Long;
  std::uint16_t text_length = 255;  // Text: characters (at most 255)
  bool autonumber = false;          // Long only: the builder fills in 1, 2, 3, ...
};

struct IndexDesign {
  std::string name;
  std::vector<std::string> columns;  // ascending
  bool primary_key = false;          // implies unique and required
  bool unique = false;
};

struct TableDesign {
  std::string name;
  std::vector<ColumnDesign> columns;
  std::vector<IndexDesign> indexes;
};

}  // namespace jet::build
