#pragma once
// One table read as far as it can be: its pages found by their owner and
// checked against its usage map, its rows read (and, on the repairing
// pass, their values), rows outside the map placed through the indexes,
// repeated unique keys set aside; what it could not read goes to the log.
#include <set>

#include "engine/model/schema.h"
#include "engine/salvage/loss_log.h"
#include "engine/salvage/page_survey.h"
#include "engine/salvage/salvage_reader.h"

namespace jet {
class Database;
}

namespace jet::salvage {

// `table_pages`: the definition pages of every table, whose rows are not
// this table's. `system`: one of the engine's or Access's own tables.
SalvagedTable salvage_table(Database& db, const PageSurvey& pages, const std::set<PageNumber>& table_pages,
                            LossLog& log, bool system, const SalvageOptions& options, TableDef def);

}  // namespace jet::salvage
