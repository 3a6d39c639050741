#pragma once
// The command line of quillmar-db, parsed into what to do. Usage mistakes
// throw jet::Error 3001 with source kUsageSource, so they print like every
// other failure.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmar_db {

inline constexpr const char* kUsageSource = "quillmar-db command line";
inline constexpr int kInvalidArgument = 3001;  // Jet's "Invalid argument."

enum class Command { Help, Version, Info, Export, Check, Compact };

enum class PasswordFrom { None, File, Stdin };

// The collating order of a compacted copy: the source's own, or General.
enum class SortOrder { Source, General };

struct CliArgs {
  Command command = Command::Help;
  std::vector<std::string> operands;  // after the command name
  PasswordFrom password_from = PasswordFrom::None;
  std::string password_file;
  bool progress = true;               // compact: bar on stderr when it is a terminal
  SortOrder sort_order = SortOrder::Source;  // compact
};

// `args` excludes the program name.
CliArgs parse_args(std::span<const std::string_view> args);

}  // namespace quillmar_db
