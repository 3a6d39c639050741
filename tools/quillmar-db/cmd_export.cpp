// quillmar-db export: one table as CSV with a header row.
#include "engine/read/complex_values.h"
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
  // A complex column's values live in a hidden table; one whose table
  // cannot be found or is of a shape we do not know keeps its complex id.
  std::map<std::size_t, jet::ComplexColumnValues> complex = jet::read_complex_values(*db, table);
  std::erase_if(complex, [](const auto& c) { return c.second.kind == jet::ComplexKind::kOther; });

  CsvWriter csv(ctx.out);
  for (const auto& column : table.columns) csv.quoted_if_needed(column.name);
  csv.end_row();
  std::string scratch;
  const std::vector<jet::Value> none;
  db->scan_rows(table, [&](jet::RowPointer, const jet::Row& row) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      const auto values = complex.find(i);
      if (values == complex.end() || row[i].is_null) {
        write_csv_value(csv, row[i], scratch);
        continue;
      }
      const auto found = values->second.values.find(static_cast<std::int32_t>(row[i].integer));
      write_csv_list(csv, found == values->second.values.end() ? none : found->second, scratch);
    }
    csv.end_row();
  });
  csv.flush();
  return kExitOk;
}

}  // namespace quillmar_db
