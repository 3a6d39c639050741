#pragma once
// Checks of the rows on one data page: the row offsets stay inside the page
// and do not overlap, every live row decodes, and every long value (Memo,
// OLE) a row points at resolves; the long-value pages reached are claimed
// for the row's table.
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
namespace jet::index {
class TableIndexPass;
}

namespace jet::check {

// Long-value pages are data pages with "LVAL" where the owner would be.
bool is_long_value_page(const JetFormat& format, std::span<const std::uint8_t> page);

struct PageRows {
  std::uint32_t live = 0;         // rows neither deleted nor unreadable
  std::vector<RowSlot> slots;     // one per slot; unreadable slots come back deleted
  std::vector<bool> broken;       // slots whose bounds are damaged
  bool count_unreadable = false;  // the row count itself is damaged: no slots
};

// Reads the row table of a data page and reports bounds outside the page
// and overlapping live rows as errors of kind "row-offsets".
PageRows check_row_area(const JetFormat& format, std::span<const std::uint8_t> page, PageNumber page_number,
                        CheckReport& report);

// Buffers reused from row to row, so checking a row allocates nothing.
struct RowScratch {
  Row key_values;                    // sized to the table; only key columns filled
  std::vector<std::uint32_t> seen;   // long-value rows met on one value's chain
};

struct RowContext {
  Database& db;
  const JetFormat& format;
  const TableDef& table;
  int table_index;
  LongValueClaims& long_values;  // the pages a row's long values lead to
  CheckReport& report;
  // The table's indexes: every row that checks out hands its key values
  // over. Null when the table has no index to check this way.
  index::TableIndexPass* index_pass = nullptr;
  // Cleared when some row could not be handed over (damaged, unreadable),
  // so the pass has not seen the whole table.
  bool* all_rows_passed = nullptr;
  RowScratch* scratch = nullptr;  // required
};

// Checks every live row of the page: it splits into its columns, each
// column's value decodes, and its long values resolve. Values themselves
// are only built where an index keys on them.
void check_rows(RowContext& ctx, std::span<const std::uint8_t> page, PageNumber page_number,
                const PageRows& rows);

}  // namespace jet::check
