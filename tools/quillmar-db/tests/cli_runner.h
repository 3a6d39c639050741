#pragma once
// Runs the command line in this process, as main() would, with standard
// input, output and error in temporary files: what the tests of the
// commands compare.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/quillmar-db/cli.h"

namespace quillmar_db::testing {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// All of `f`, from its start.
inline std::string read_all(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

// `quillmar-db ARGS...` with `input` on standard input.
inline CliRun run_cli_args(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), "quillmar-db");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  CliRun r;
  r.status = run_cli(static_cast<int>(argv.size()), argv.data(), out, err, in);
  r.out = read_all(out);
  r.err = read_all(err);
  std::fclose(out);
  std::fclose(err);
  std::fclose(in);
  return r;
}

}  // namespace quillmar_db::testing
