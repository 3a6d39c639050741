#pragma once
// Command-line options of quillmar-bench-gen, parsed apart from the
// generator so that a wrong argument never reaches the file system.
#include <cstdint>
#include <string>

namespace jet::build {

struct BenchOptions {
  std::string output;               // the file to create; it must not exist
  std::uint64_t megabytes = 1024;   // stop once the file reaches this size
  unsigned deleted_percent = 33;    // share of rows written Access-deleted
  std::uint64_t seed = 1;
};

struct BenchParse {
  enum class Outcome { kRun, kHelp, kUsageError };
  Outcome outcome = Outcome::kRun;
  BenchOptions options;
  std::string error;  // for kUsageError: what was wrong, one line
};

// argv[0] is skipped. Options may come before or after the output path, as
// "--name value" or "--name=value"; "--" ends the options.
BenchParse parse_bench_options(int argc, const char* const* argv);

// The usage text printed for --help.
std::string bench_usage(const std::string& program);

}  // namespace jet::build
