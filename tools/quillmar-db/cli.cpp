#include "tools/quillmar-db/cli.h"

#include <unistd.h>

#include <new>
#include <string_view>
#include <vector>

#include "engine/error.h"
#include "tools/quillmar-db/cli_args.h"
#include "tools/quillmar-db/commands.h"
#include "tools/quillmar-db/password_input.h"

#ifndef QUILLMAR_VERSION
#define QUILLMAR_VERSION "0.0.0"
#endif

namespace quillmar_db {
namespace {

constexpr const char* kHelp =
    "Usage: quillmar-db [OPTIONS] COMMAND ARGUMENTS\n"
    "Inspect, export, check and compact Microsoft Access databases: Jet 3 and\n"
    "Jet 4 (.mdb, Access 97-2003) and ACE (.accdb, Access 2007, 2010, 2016, 2019\n"
    "and later). Encrypted files are read with their password, and an encrypted\n"
    "ACE file compacts into a copy encrypted the same way.\n"
    "\n"
    "Commands:\n"
    "  info FILE              format, page size and count, code page, collating order,\n"
    "                         encryption, password and each table with its row count\n"
    "  export FILE TABLE      the table as CSV (RFC 4180) with a header row\n"
    "  check FILE             integrity findings: errors (damage) and notes\n"
    "  compact SRC DST        write a compacted copy of SRC to the new file DST\n"
    "  maintain PATH...       back up, compact and repair, check and put in place\n"
    "                         each .mdb and .accdb file named or in the folders\n"
    "                         named, keeping its owner, group, mode, ACL and\n"
    "                         attributes; databases in use are skipped, their\n"
    "                         users named\n"
    "\n"
    "Options:\n"
    "  --password-file FILE   read the database password from FILE\n"
    "  --password-stdin       read the database password from the first line of\n"
    "                         standard input (not echoed on a terminal)\n"
    "  --no-progress          no progress bar while compacting\n"
    "  --sort-order ORDER     compact: the copy's collating order, 'source' (the\n"
    "                         default: keep the source's order and its index keys)\n"
    "                         or 'general' (convert to the General order)\n"
    "  -h, --help             show this help and exit\n"
    "  -V, --version          show the version and exit\n"
    "\n"
    "Options of maintain:\n"
    "  -r, --recursive        also search the folders below the folders named\n"
    "  --backup-dir DIR       keep the backups below DIR (default: a folder\n"
    "                         .quillmar-backups beside each database)\n"
    "  --keep N               backups kept per database (default 7); older ones go\n"
    "                         after a successful run\n"
    "  --no-repair            leave a database that needs a repair as it was and\n"
    "                         report it\n"
    "  --json                 one JSON object per database on standard output\n"
    "  -n, --dry-run          say what would be done, change nothing\n"
    "\n"
    "A password is never taken on the command line. One line break at the end\n"
    "of the password file or input is ignored.\n"
    "\n"
    "Export writes text, dates (YYYY-MM-DD HH:MM:SS), binary data (hex) and\n"
    "replication ids quoted; numbers and booleans (1/0) unquoted; null as an\n"
    "empty field and empty text as \"\". Floating-point numbers and decimals are\n"
    "written exactly.\n"
    "\n"
    "Exit status: 0 success (check: no errors), 1 check found errors,\n"
    "2 failure (unreadable database, bad usage, write error). Maintain: 0 all\n"
    "done, 1 some skipped, repaired or left unrepaired, 2 some failed.\n"
    "Errors go to standard error as: quillmar-db: error NUMBER: DESCRIPTION (SOURCE)\n";

void print_error(std::FILE* err, int number, const std::string& description, const std::string& source) {
  std::fprintf(err, "quillmar-db: error %d: %s (%s)\n", number, description.c_str(), source.c_str());
}

int dispatch(const CliArgs& args, CommandContext& ctx, std::FILE* in) {
  switch (args.command) {
    case Command::Help:
      std::fputs(kHelp, ctx.out);
      return kExitOk;
    case Command::Version:
      std::fprintf(ctx.out, "quillmar-db %s\n", QUILLMAR_VERSION);
      return kExitOk;
    default:
      break;
  }
  if (args.password_from == PasswordFrom::File) ctx.password = read_password_file(args.password_file);
  if (args.password_from == PasswordFrom::Stdin) ctx.password = read_password_stream(in);
  const auto& op = args.operands;
  switch (args.command) {
    case Command::Info:
      return run_info(ctx, op[0]);
    case Command::Export:
      return run_export(ctx, op[0], op[1]);
    case Command::Check:
      return run_check(ctx, op[0]);
    case Command::Compact:
      return run_compact(ctx, op[0], op[1]);
    case Command::Maintain:
      return run_maintain(ctx, args.maintain, op);
    default:
      return kExitOk;
  }
}

}  // namespace

int run_cli(int argc, const char* const* argv, std::FILE* out, std::FILE* err, std::FILE* in) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  try {
    CliArgs parsed = parse_args(args);
    CommandContext ctx;
    ctx.out = out;
    ctx.err = err;
    ctx.progress = parsed.progress && ::isatty(::fileno(err)) == 1;
    ctx.to_general_order = parsed.sort_order == SortOrder::General;
    int status = dispatch(parsed, ctx, in);
    if (std::fflush(out) != 0) {
      print_error(err, 3043, "Cannot write the output.", "quillmar-db output");
      return kExitTrouble;
    }
    return status;
  } catch (const jet::Error& e) {
    print_error(err, e.number(), e.description(), e.source());
  } catch (const std::bad_alloc&) {
    print_error(err, 7, "Out of memory.", "quillmar-db");
  } catch (const std::exception& e) {
    // Anything else is a fault of ours; still say what happened.
    print_error(err, 3000, std::string("Unexpected failure: ") + e.what(), "quillmar-db");
  }
  return kExitTrouble;
}

}  // namespace quillmar_db
