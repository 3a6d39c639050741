#include "engine/write/object_ids.h"

#include <array>
#include <utility>

#include "engine/format/text_codec.h"

namespace jet::write {

bool holds_object_ids(std::string_view table, std::string_view column) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kColumns{{
      {"MSysObjects", "Id"},
      {"MSysObjects", "ParentId"},
      {"MSysACEs", "ObjectId"},
      {"MSysQueries", "ObjectId"},
      {"MSysNavPaneObjectIDs", "Id"},
      {"MSysNavPaneGroupToObjects", "ObjectID"},
      // ACE: the tables behind each complex column (the one holding it,
      // its hidden values table, the table naming its kind).
      {"MSysComplexColumns", "ConceptualTableID"},
      {"MSysComplexColumns", "FlatTableID"},
      {"MSysComplexColumns", "ComplexTypeObjectID"},
  }};
  for (const auto& [t, c] : kColumns) {
    if (equals_ignoring_ascii_case(t, table) && equals_ignoring_ascii_case(c, column)) return true;
  }
  return false;
}

}  // namespace jet::write
