#include "tools/quillmar-db/cli_args.h"

#include <optional>

#include "engine/error.h"

namespace quillmar_db {
namespace {

[[noreturn]] void usage_error(const std::string& what) {
  throw jet::Error(kInvalidArgument, what + " Try 'quillmar-db --help'.", kUsageSource);
}

struct CommandEntry {
  std::string_view name;
  Command command;
  std::size_t operands;
  std::string_view operand_names;
  bool more_operands = false;  // `operands` is the least
};

constexpr CommandEntry kCommands[] = {
    {"info", Command::Info, 1, "FILE"},
    {"export", Command::Export, 2, "FILE TABLE"},
    {"check", Command::Check, 1, "FILE"},
    {"compact", Command::Compact, 2, "SOURCE DESTINATION"},
    {"maintain", Command::Maintain, 1, "one or more files or folders", true},
    {"help", Command::Help, 0, ""},
};

bool is_password_on_command_line(std::string_view arg) {
  for (std::string_view refused : {"--password", "--pwd", "-p"}) {
    if (arg == refused || (arg.starts_with(refused) && arg.size() > refused.size() &&
                           arg[refused.size()] == '=')) {
      return true;
    }
  }
  return false;
}

}  // namespace

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE"; none
// when `arg` is not that option. `missing` is the message when no value
// follows.
std::optional<std::string_view> option_value(std::span<const std::string_view> args, std::size_t& i,
                                             std::string_view name, const std::string& missing) {
  const std::string_view arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) usage_error(missing);
    return args[++i];
  }
  if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') return arg.substr(name.size() + 1);
  return std::nullopt;
}

unsigned parse_keep(std::string_view text) {
  unsigned value = 0;
  bool ok = !text.empty() && text.size() <= 4;
  for (const char c : text) {
    if (c < '0' || c > '9') ok = false;
    if (ok) value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (!ok || value == 0) usage_error("--keep takes a number of backups from 1 to 9999, not '" + std::string(text) + "'.");
  return value;
}

// The options of maintain; false when `arg` is none of them.
bool parse_maintain_option(std::span<const std::string_view> args, std::size_t& i, CliArgs& out) {
  const std::string_view arg = args[i];
  MaintainArgs& m = out.maintain;
  if (arg == "--recursive" || arg == "-r") {
    m.recursive = true;
  } else if (arg == "--no-repair") {
    m.repair = false;
  } else if (arg == "--json") {
    m.json = true;
  } else if (arg == "--dry-run" || arg == "-n") {
    m.dry_run = true;
  } else if (const auto keep = option_value(args, i, "--keep", "--keep needs a number.")) {
    m.keep = parse_keep(*keep);
  } else if (const auto dir = option_value(args, i, "--backup-dir", "--backup-dir needs a folder.")) {
    if (dir->empty()) usage_error("--backup-dir needs a folder.");
    m.backup_dir = std::string(*dir);
  } else {
    return false;
  }
  out.maintain_options_given.emplace_back(arg.substr(0, arg.find('=')));
  return true;
}

}  // namespace

CliArgs parse_args(std::span<const std::string_view> args) {
  CliArgs out;
  std::optional<Command> command;
  std::vector<std::string> positional;
  bool only_operands = false;
  bool help = false;
  bool version = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (only_operands || arg == "-" || !arg.starts_with("-")) {
      positional.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      only_operands = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version" || arg == "-V") {
      version = true;
    } else if (arg == "--no-progress") {
      out.progress = false;
    } else if (parse_maintain_option(args, i, out)) {
    } else if (const auto order = option_value(args, i, "--sort-order", "--sort-order needs 'source' or 'general'.")) {
      out.sort_order_given = true;
      if (order == "source") {
        out.sort_order = SortOrder::Source;
      } else if (order == "general") {
        out.sort_order = SortOrder::General;
      } else {
        usage_error("--sort-order takes 'source' or 'general', not '" + std::string(*order) + "'.");
      }
    } else if (arg == "--password-stdin") {
      if (out.password_from != PasswordFrom::None) usage_error("Give the password only once.");
      out.password_from = PasswordFrom::Stdin;
    } else if (const auto file = option_value(args, i, "--password-file", "--password-file needs a file name.")) {
      if (out.password_from != PasswordFrom::None) usage_error("Give the password only once.");
      if (file->empty()) usage_error("--password-file needs a file name.");
      out.password_from = PasswordFrom::File;
      out.password_file = std::string(*file);
    } else if (is_password_on_command_line(arg)) {
      // Command lines are visible to every user of the machine (ps, /proc).
      usage_error("A password is never taken on the command line; use --password-file FILE "
                  "or --password-stdin.");
    } else {
      usage_error("Unknown option '" + std::string(arg) + "'.");
    }
  }

  if (help) {
    out.command = Command::Help;
    return out;
  }
  if (version) {
    out.command = Command::Version;
    return out;
  }
  if (positional.empty()) usage_error("No command given.");

  const CommandEntry* entry = nullptr;
  for (const auto& candidate : kCommands) {
    if (candidate.name == positional.front()) entry = &candidate;
  }
  if (entry == nullptr) usage_error("Unknown command '" + positional.front() + "'.");
  command = entry->command;
  positional.erase(positional.begin());
  const bool operands_fit = entry->more_operands ? positional.size() >= entry->operands
                                                 : positional.size() == entry->operands;
  if (entry->command != Command::Help && !operands_fit) {
    usage_error("'" + std::string(entry->name) + "' takes " + std::string(entry->operand_names) + ".");
  }
  if (out.password_from == PasswordFrom::File && out.password_file == "-") {
    usage_error("Use --password-stdin to read the password from standard input.");
  }
  if (entry->command != Command::Maintain && !out.maintain_options_given.empty()) {
    usage_error(out.maintain_options_given.front() + " belongs to 'maintain'.");
  }
  // Converting the order of a share's databases is a decision per file.
  if (entry->command == Command::Maintain && out.sort_order_given) {
    usage_error("--sort-order belongs to 'compact'; 'maintain' keeps each database's order.");
  }
  out.command = *command;
  out.operands = std::move(positional);
  return out;
}

}  // namespace quillmar_db
