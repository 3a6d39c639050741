// quillmar-db check: the integrity findings of a database, errors first.
#include "engine/check/check.h"
#include "engine/error.h"
#include "engine/read/database.h"
#include "engine/salvage/salvage_reader.h"
#include "tools/quillmar-db/commands.h"

namespace quillmar_db {
namespace {

void print_finding(std::FILE* out, const jet::Finding& f) {
  std::fprintf(out, "%s: ", f.severity == jet::Severity::Error ? "error" : "note");
  if (f.page != jet::Finding::kNoPage) std::fprintf(out, "page %u: ", f.page);
  if (!f.table.empty()) std::fprintf(out, "table '%s': ", f.table.c_str());
  std::fprintf(out, "%s: %s\n", f.kind.c_str(), f.message.c_str());
}

// For a file with errors: what compacting it would cost, read the way
// compaction reads it (the salvage reader), so the list is the one the copy's
// MSysCompactError would hold.
void print_repair_cost(std::FILE* out, jet::Database& db) {
  const jet::salvage::SalvagedDatabase salvaged = jet::salvage::salvage_database(db);
  const auto& losses = salvaged.log.entries();
  if (losses.empty()) {
    std::fprintf(out, "compaction: repairs the errors above without losing anything (indexes, usage maps and "
                      "row counts are rebuilt from the rows)\n");
    return;
  }
  std::fprintf(out, "compaction: repairs the errors above at this cost (%zu entr%s in the copy's MSysCompactError):\n",
               losses.size(), losses.size() == 1 ? "y" : "ies");
  for (const auto& loss : losses) std::fprintf(out, "  %s\n", loss.description.c_str());
}

}  // namespace

int run_check(const CommandContext& ctx, const std::string& path) {
  jet::OpenOptions options;
  options.password = ctx.password;
  auto db = jet::Database::open(path, options);
  jet::CheckReport report = jet::check_database(*db);
  for (auto severity : {jet::Severity::Error, jet::Severity::Note}) {
    for (const auto& f : report.findings) {
      if (f.severity == severity) print_finding(ctx.out, f);
    }
  }
  if (report.error_count() > 0) {
    try {
      print_repair_cost(ctx.out, *db);
    } catch (const jet::Error& e) {
      std::fprintf(ctx.out, "compaction: cannot repair this file: %s\n", e.description().c_str());
    }
  }
  std::fprintf(ctx.out, "%s: %zu error%s, %zu note%s\n", path.c_str(), report.error_count(),
               report.error_count() == 1 ? "" : "s", report.note_count(),
               report.note_count() == 1 ? "" : "s");
  return report.error_count() == 0 ? kExitOk : kExitFindings;
}

}  // namespace quillmar_db
