#pragma once
// The commands of quillmar-db. Each writes its result to `out` and
// throws jet::Error on failure; the caller prints the error and picks the
// exit status.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/quillmar-db/cli_args.h"

namespace jet {
class Env;
}

namespace quillmar_db {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFindings = 1;  // check found damage
inline constexpr int kExitTrouble = 2;   // unreadable file, failure, usage error

struct CommandContext {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::optional<std::string> password;  // UTF-8
  bool progress = false;                // draw a progress bar on err
  bool to_general_order = false;        // compact: convert the copy to the General order
};

int run_info(const CommandContext& ctx, const std::string& path);
int run_export(const CommandContext& ctx, const std::string& path, const std::string& table);
int run_check(const CommandContext& ctx, const std::string& path);
int run_compact(const CommandContext& ctx, const std::string& source, const std::string& destination);
// `env` null: the real file system.
int run_maintain(const CommandContext& ctx, const MaintainArgs& args, const std::vector<std::string>& operands,
                 jet::Env* env = nullptr);

}  // namespace quillmar_db
