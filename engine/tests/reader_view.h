#pragma once
// What the outside readers (mdbtools, mdb-reader) see that Access does not,
// so that a jetdiff report on a compacted copy can tell their known limits
// from a real difference.
//
// Ghost rows: when Access moves a grown row elsewhere it leaves a pointer
// row (flag 0x4000) and stores the moved copy with the deleted flag 0x8000
// alone, so that a page scan does not meet it twice. Deleting the row
// marks the pointer 0xC000 but leaves the copy as it was. Both readers read
// every slot flagged 0x8000 alone as a live row, so they see such copies,
// which Access (and we) do not: a copy drops them, and jetdiff reports them
// as rows only in the original.
//
// Object ids in MSysComplexColumns: a copy renumbers table ids (a table's
// id is its definition page), and jetdiff maps ids to names only in the
// Jet 4 system tables it knows, so it reports ACE's complex-column rows as
// changed. The compaction audit compares them by the names the ids stand
// for instead (compact_audit.h).
#include <map>
#include <set>
#include <string>

#include "engine/read/database.h"

namespace jet::testing {

// Rows the readers see in each table (by name) beyond the table's live
// rows: moved copies that no live pointer row points to.
std::map<std::string, std::size_t> ghost_rows_by_table(Database& db);

// Calculated columns with a Memo or OLE result: the row holds the long
// value's reference inside the calculated wrapping, which neither reader
// unwraps, so they show the reference (its page number changes in a copy)
// as the value. Per table name, the columns' names; and our own reading of
// those values, which a test compares instead.
using ColumnsByTable = std::map<std::string, std::set<std::string>>;
ColumnsByTable calculated_long_values(Database& db);
std::multiset<std::string> values_of(Database& db, const ColumnsByTable& columns);

// The lines of a jetdiff report that the limits above do not explain:
// empty when the two files hold the same data as Access sees it.
std::string unexplained_differences(const std::string& jetdiff_log,
                                    const std::map<std::string, std::size_t>& ghosts_in_a,
                                    const ColumnsByTable& opaque = {});

}  // namespace jet::testing
