#include "engine/builder/tools/bench_options.h"

#include <charconv>
#include <optional>

namespace jet::build {

namespace {

// A whole decimal number in [low, high], or nothing.
std::optional<std::uint64_t> number_in(const std::string& text, std::uint64_t low, std::uint64_t high) {
  std::uint64_t v = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || at != end || v < low || v > high) return std::nullopt;
  return v;
}

BenchParse usage_error(std::string why) {
  BenchParse p;
  p.outcome = BenchParse::Outcome::kUsageError;
  p.error = std::move(why);
  return p;
}

}  // namespace

std::string bench_usage(const std::string& program) {
  return "usage: " + program +
         " OUT.mdb [--megabytes N] [--deleted-percent P] [--seed S]\n"
         "\n"
         "Writes a new Jet 4 database of about N MiB (default 1024) for the\n"
         "compaction benchmark: customers, orders and an event log with\n"
         "attachments, P percent of the rows (default 33) left deleted the way\n"
         "Access leaves them; N = 0 gives the tables without rows. S (default 1)\n"
         "seeds the generated values.\n"
         "OUT.mdb must not exist; it is never overwritten.\n"
         "\n"
         "  -h, --help  print this text and exit\n";
}

BenchParse parse_bench_options(int argc, const char* const* argv) {
  BenchParse p;
  bool options_ended = false;
  std::optional<std::string> output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_ended && (arg == "-h" || arg == "--help")) {
      p.outcome = BenchParse::Outcome::kHelp;
      return p;
    }
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    if (options_ended || arg.empty() || arg[0] != '-') {
      if (output) return usage_error("more than one output file given ('" + *output + "', '" + arg + "')");
      output = arg;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name != "--megabytes" && name != "--deleted-percent" && name != "--seed") {
      return usage_error("unknown option '" + name + "'");
    }
    if (!value) {
      if (i + 1 >= argc) return usage_error("option '" + name + "' needs a value");
      value = argv[++i];
    }
    if (name == "--megabytes") {
      // Upper bound: a Jet 4 file holds at most 2 GiB (the page numbers' limit
      // is higher, Access's is this).
      const auto v = number_in(*value, 0, 2048);
      if (!v) return usage_error("--megabytes takes a whole number from 0 to 2048, not '" + *value + "'");
      p.options.megabytes = *v;
    } else if (name == "--deleted-percent") {
      const auto v = number_in(*value, 0, 100);
      if (!v) return usage_error("--deleted-percent takes a whole number from 0 to 100, not '" + *value + "'");
      p.options.deleted_percent = static_cast<unsigned>(*v);
    } else {
      const auto v = number_in(*value, 0, UINT64_MAX);
      if (!v) return usage_error("--seed takes a whole number, not '" + *value + "'");
      p.options.seed = *v;
    }
  }
  if (!output) return usage_error("no output file given");
  if (output->empty()) return usage_error("the output file name is empty");
  p.options.output = *output;
  return p;
}

}  // namespace jet::build
