#pragma once
// The first pass over a table's rows: notes each live row's place and size
// and, for a primary key, its key; sorting the keys (merging their runs on
// the scratch file) gives the write order. Without a primary key the scan
// order is kept; a primary key our encoder cannot key gives its order from
// the source's stored entries. May run on a second thread, with a handle of
// its own on the source, while another table is written.
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_plan.h"
#include "engine/write/row_table.h"

namespace jet::write {

class RewriteSource;

// Reads the rows from `source` (ctx.db, or another handle on it).
RowTable scan_rows(RewriteContext& ctx, const TablePlan& plan, RewriteSource& source);

}  // namespace jet::write
