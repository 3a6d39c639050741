#include "engine/write/rewrite_source.h"

#include "engine/read/database.h"

namespace jet::write {

DatabaseSource::DatabaseSource(Database& db) : db_(db) {}
DatabaseSource::DatabaseSource(std::unique_ptr<Database> owned) : owned_(std::move(owned)), db_(*owned_) {}
DatabaseSource::~DatabaseSource() = default;

std::unique_ptr<RewriteSource> DatabaseSource::open_another() {
  return std::make_unique<DatabaseSource>(db_.open_sibling());
}

const HeaderInfo& DatabaseSource::header() { return db_.header(); }
std::uint32_t DatabaseSource::page_count() { return db_.page_count(); }
Bytes DatabaseSource::page_one() { return db_.read_page(1); }
std::vector<TableDef> DatabaseSource::tables() { return db_.tables(); }

void DatabaseSource::scan_raw_rows(const TableDef& table,
                                   const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit) {
  db_.scan_raw_rows(table, visit);
}

std::optional<Bytes> DatabaseSource::read_row(RowPointer where) { return db_.read_row_bytes(where); }
bool DatabaseSource::read_row_into(RowPointer where, Bytes& out) { return db_.read_row_into(where, out); }

Bytes DatabaseSource::read_long_value(std::span<const std::uint8_t> field) { return db_.read_long_value(field); }
Bytes DatabaseSource::read_page(PageNumber page) { return db_.read_page(page); }

}  // namespace jet::write
