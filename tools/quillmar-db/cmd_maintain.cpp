// quillmar-db maintain: back up, compact and repair, check and put in place
// every database named or found, one after the other.
#include <ctime>
#include <vector>

#include "tools/quillmar-db/commands.h"
#include "tools/quillmar-db/maintain_database.h"
#include "tools/quillmar-db/maintain_report.h"
#include "tools/quillmar-db/maintain_targets.h"

namespace quillmar_db {

int run_maintain(const CommandContext& ctx, const MaintainArgs& args, const std::vector<std::string>& operands,
                 jet::Env* env) {
  MaintainTargets targets = find_databases(operands, args.recursive, args.backup_dir);
  MaintainSettings settings;
  settings.password = ctx.password;
  settings.repair = args.repair;
  settings.dry_run = args.dry_run;
  settings.keep = args.keep;
  settings.env = env;

  std::vector<MaintainOutcome> outcomes;
  const auto report = [&](MaintainOutcome outcome) {
    if (args.json) {
      print_outcome_json(ctx.out, outcome);
    } else {
      print_outcome_text(ctx.out, outcome);
    }
    // Cron and the journal take standard error as the place for failures.
    if (outcome.status == MaintainStatus::Failed && outcome.error) {
      std::fprintf(ctx.err, "quillmar-db: error %d: %s: %s (%s)\n", outcome.error->number(), outcome.path.c_str(),
                   outcome.error->description().c_str(), outcome.error->source().c_str());
    }
    std::fflush(ctx.out);
    outcomes.push_back(std::move(outcome));
  };
  for (MaintainOutcome& failure : targets.failures) report(std::move(failure));
  for (const MaintainTarget& target : targets.databases) report(maintain_database(target, settings, std::time(nullptr)));
  // With --json standard output holds the objects only.
  print_summary(args.json ? ctx.err : ctx.out, outcomes);
  return maintain_exit_status(outcomes);
}

}  // namespace quillmar_db
