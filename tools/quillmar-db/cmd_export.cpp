// quillmar-db export: one table as CSV with a header row.
#include "engine/read/database.h"
#include "tools/quillmar-db/commands.h"
#include "tools/quillmar-db/csv_values.h"
#include "tools/quillmar-db/csv_writer.h"

namespace quillmar_db {

int run_export(const CommandContext& ctx, const std::string& path, const std::string& table_name) {
  jet::OpenOptions options;
  options.password = ctx.password;
  auto db = jet::Database::open(path, options);
  jet::TableDef table = db->table(table_name);

  CsvWriter csv(ctx.out);
  for (const auto& column : table.columns) csv.quoted_if_needed(column.name);
  csv.end_row();
  std::string scratch;
  db->scan_rows(table, [&](jet::RowPointer, const jet::Row& row) {
    for (const auto& value : row) write_csv_value(csv, value, scratch);
    csv.end_row();
  });
  csv.flush();
  return kExitOk;
}

}  // namespace quillmar_db
