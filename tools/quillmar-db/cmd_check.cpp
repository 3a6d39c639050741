// quillmar-db check: the integrity findings of a database, errors first.
#include "engine/check/check.h"
#include "engine/read/database.h"
#include "tools/quillmar-db/commands.h"

namespace quillmar_db {
namespace {

void print_finding(std::FILE* out, const jet::Finding& f) {
  std::fprintf(out, "%s: ", f.severity == jet::Severity::Error ? "error" : "note");
  if (f.page != jet::Finding::kNoPage) std::fprintf(out, "page %u: ", f.page);
  if (!f.table.empty()) std::fprintf(out, "table '%s': ", f.table.c_str());
  std::fprintf(out, "%s: %s\n", f.kind.c_str(), f.message.c_str());
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
  std::fprintf(ctx.out, "%s: %zu error%s, %zu note%s\n", path.c_str(), report.error_count(),
               report.error_count() == 1 ? "" : "s", report.note_count(),
               report.note_count() == 1 ? "" : "s");
  return report.error_count() == 0 ? kExitOk : kExitFindings;
}

}  // namespace quillmar_db
