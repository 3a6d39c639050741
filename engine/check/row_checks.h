#pragma once
// Checks of the rows on one data page: the row offsets stay inside the page
// and do not overlap, every live row decodes, and every long value (Memo,
// OLE) a row points at resolves; the long-value pages reached are claimed
// in the ledger for the row's table.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/check/check.h"
#include "engine/check/page_ledger.h"
#include "engine/format/data_page.h"
#include "engine/format/jet_format.h"
#include "engine/model/schema.h"

namespace jet {
class Database;
}

namespace jet::check {

// Long-value pages are data pages with "LVAL" where the owner would be.
bool is_long_value_page(const JetFormat& format, std::span<const std::uint8_t> page);

struct PageRows {
  std::uint32_t live = 0;         // rows neither deleted nor unreadable
  std::vector<RowSlot> slots;     // one per slot; unreadable slots come back deleted
  std::vector<bool> broken;       // slots whose bounds are damaged
};

// Reads the row table of a data page and reports bounds outside the page
// and overlapping live rows as errors of kind "row-offsets".
PageRows check_row_area(const JetFormat& format, std::span<const std::uint8_t> page, PageNumber page_number,
                        CheckReport& report);

struct RowContext {
  Database& db;
  const JetFormat& format;
  const TableDef& table;
  int table_index;
  PageLedger& ledger;
  CheckReport& report;
};

// Decodes every live row of the page and follows its long values.
void check_rows(RowContext& ctx, std::span<const std::uint8_t> page, PageNumber page_number,
                const PageRows& rows);

}  // namespace jet::check
