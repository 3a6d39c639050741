#pragma once
// The source's stored index entries where they stand in for keys we form.
// Text keys copied into the source's own order keep the key the source
// stored for each row it lists exactly once; an index the encoder cannot
// key is carried over whole, and a primary key carried over gives the
// write order. Each stored entry goes in under its row's new place.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/index/index_page_reader.h"
#include "engine/model/schema.h"
#include "engine/write/index_copy.h"
#include "engine/write/row_table.h"
#include "engine/write/write_format.h"

namespace jet::write {

class RewriteSource;
struct RewriteContext;
struct TablePlan;

// Visits the source's stored entries of an index in key order.
void walk_stored_entries(RewriteSource& source, const WriteFormat& format, const TableDef& t, const IndexData& data,
                         const std::function<void(const index::EntryView&)>& visit);

// Rows in the order the source's stored primary key lists them, when our
// encoder cannot form its keys (`reason` says why); the index must list
// every row once.
std::vector<std::uint32_t> stored_order(RewriteSource& source, const WriteFormat& format, const TableDef& t,
                                        const IndexData& primary, const RowTable& rows, const std::string& reason);

// Which rows keep their stored key (1 per row, by scan position): those the
// source's stored index lists exactly once, under a key no other row of a
// unique index shares (such a repeat is a damaged key). `lead` gets each
// such key's first byte. A tree that cannot be read keeps none, and the
// index is built from keys we form.
std::vector<std::uint8_t> rows_with_stored_keys(RewriteSource& source, const WriteFormat& format, const TableDef& t,
                                                const IndexData& data, const RowTable& rows,
                                                std::vector<std::uint8_t>& lead);

// Fills an index the encoder gave up on with the source's stored keys, each
// under its row's new place (`new_at`, by scan position), within the
// index's share of the key budget (one of `lists`), like formed keys. The
// stored entries must list exactly the rows the index should.
void carry_over(RewriteContext& ctx, const TableDef& t, IndexCopy& index, const RowTable& rows,
                const std::vector<RowPointer>& new_at, std::size_t lists);

// Adds the stored entries of the rows that keep their stored key (the
// others were keyed as they were written), each under the row's new place.
void carry_stored_keys(RewriteContext& ctx, const TableDef& t, IndexCopy& index, const RowTable& rows,
                       const std::vector<RowPointer>& new_at, std::size_t lists);

// Adds, each under its row's new place, the stored key of every row whose
// key the encoder could not form (`index.unformed`), once proven the row's
// (RewriteOptions::stored_keys_where_unformed). Rows without such a key
// refuse the copy (UnkeyedRows, 3251) naming the index, why and the rows.
void carry_proven_keys(RewriteContext& ctx, const TablePlan& plan, IndexCopy& index, const RowTable& rows,
                       const std::vector<RowPointer>& new_at, std::size_t lists);

}  // namespace jet::write
