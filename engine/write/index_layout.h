#pragma once
// Lays out a table's index trees once its rows are written: each index's
// keys, merged from its runs and its list, go straight into a tree writer,
// index after index; the roots and entry counts go into the plan for the
// table's definition, the trees' pages into the indexes' usage maps.
#include <vector>

#include "engine/write/index_copy.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_plan.h"

namespace jet::write {

// The keys are merged on a helper thread with `threaded`; the trees take
// page numbers on this thread either way, so both give the same pages.
void lay_out_indexes(RewriteContext& ctx, TablePlan& plan, std::vector<IndexCopy>& indexes, bool threaded);

}  // namespace jet::write
