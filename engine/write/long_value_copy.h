#pragma once
// Rewrites the long values a table's rows refer to onto fresh pages as the
// rows are written. Columns with their own usage maps get their own pages;
// the others share.
#include <cstdint>
#include <map>
#include <span>

#include "engine/write/long_value_writer.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_plan.h"
#include "engine/write/row_reader.h"

namespace jet::write {

class LongValueCopy {
 public:
  LongValueCopy(RewriteContext& ctx, TablePlan& plan) : ctx_(ctx), plan_(plan) {}
  LongValueCopy(const LongValueCopy&) = delete;
  LongValueCopy& operator=(const LongValueCopy&) = delete;

  // True when the table has Memo or OLE columns at all.
  bool needed() const;

  // Writes a collected value onto fresh pages and points the row at them.
  void write(std::span<std::uint8_t> raw, const RowBatch::LongValue& v);

  // Writes the open pages and records every page in the column maps.
  void finish();

 private:
  LongValueWriter& writer_for(int group);

  RewriteContext& ctx_;
  TablePlan& plan_;
  std::map<int, LongValueWriter> writers_;  // by group: a column with its own pages, or -1
};

}  // namespace jet::write
