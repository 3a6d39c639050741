#pragma once
// The second pass over a table's rows: reads them again in write order (the
// row reader, on a thread of its own for a large table), writes their long
// values (the long-value copy), packs them onto the data pages the plan
// numbered in advance and files each index key under its row's new place.
// Stored index entries that stand in for keys then go in, and the index
// trees are laid out.
#include <functional>

#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_plan.h"
#include "engine/write/row_table.h"

namespace jet::write {

// Fills the plan's update for the table's definition (row count,
// AutoNumber, index roots, table ids). `source_done` is called once the
// source is no longer needed for this table (before its indexes are laid
// out).
void copy_rows(RewriteContext& ctx, TablePlan& plan, const RowTable& rows, const std::function<void()>& source_done);

}  // namespace jet::write
