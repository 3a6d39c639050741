#pragma once
// Rows a repair takes out of their table because the copy cannot key them
// in the file's own collating order (SalvageOptions::unkeyed).
#include <vector>

#include "engine/model/schema.h"
#include "engine/salvage/loss_log.h"
#include "engine/salvage/salvage_reader.h"

namespace jet::salvage {

// Takes the rows `unkeyed` names for table `t` out of `out.rows`: into
// `out.set_aside` (the recovery table) for a user table, left out for a
// `system` one; one log entry each.
void take_out_unkeyed_rows(const TableDef& t, bool system, const std::vector<UnkeyedRowsOfTable>& unkeyed,
                           SalvagedTable& out, LossLog& log);

}  // namespace jet::salvage
