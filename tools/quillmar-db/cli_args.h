#pragma once
// The command line of quillmar-db, parsed into what to do. Usage mistakes
// throw jet::Error 3001 with source kUsageSource, so they print like every
// other failure.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmar_db {

inline constexpr const char* kUsageSource = "quillmar-db command line";
inline constexpr int kInvalidArgument = 3001;  // Jet's "Invalid argument."

enum class Command { Help, Version, Info, Export, Check, Compact, Maintain };

enum class PasswordFrom { None, File, Stdin };

// The collating order of a compacted copy: the source's own, or General.
enum class SortOrder { Source, General };

// maintain: which databases, where their backups go, what to report.
struct MaintainArgs {
  bool recursive = false;                 // descend into the folders named
  std::optional<std::string> backup_dir;  // none: .quillmar-backups beside each file
  unsigned keep = 7;                      // backups kept per database, at least 1
  bool repair = true;                     // false: a database that needs repair is left as it was
  bool json = false;                      // one JSON object per database
  bool dry_run = false;                   // say what would be done, change nothing
};

struct CliArgs {
  Command command = Command::Help;
  std::vector<std::string> operands;  // after the command name
  PasswordFrom password_from = PasswordFrom::None;
  std::string password_file;
  bool progress = true;               // compact: bar on stderr when it is a terminal
  SortOrder sort_order = SortOrder::Source;  // compact
  bool sort_order_given = false;
  MaintainArgs maintain;
  std::vector<std::string> maintain_options_given;  // to refuse them for other commands
};

// `args` excludes the program name.
CliArgs parse_args(std::span<const std::string_view> args);

}  // namespace quillmar_db
