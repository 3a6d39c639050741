#pragma once
// The whole of quillmar-db behind main(): parses the arguments, runs the
// command, prints any failure as "quillmar-db: error N: description (source)"
// and returns the exit status (see commands.h).
#include <cstdio>

namespace quillmar_db {

int run_cli(int argc, const char* const* argv, std::FILE* out, std::FILE* err, std::FILE* in);

}  // namespace quillmar_db
