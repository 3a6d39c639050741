#pragma once
// Turns a TableDesign into the TableLayout the definition builder
// (engine/write/table_definition_builder.h) lays out: columns numbered in
// the order given, flags and offsets assigned the way Access does for a new
// table, index descriptors resolved.
#include "engine/builder/table_design.h"
#include "engine/format/jet_format.h"
#include "engine/write/table_definition_builder.h"

namespace jet::build {

using write::ColumnLayout;
using write::IndexLayout;
using write::TableLayout;
using write::TablePlacement;

// Throws jet::Error 3001 for a design Access would refuse (no columns,
// duplicate names, unknown index columns, an AutoNumber that is not a Long,
// too long a text).
TableLayout layout_user_table(const TableDesign& design, JetVersion version);

}  // namespace jet::build
