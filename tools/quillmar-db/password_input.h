#pragma once
// Reads a database password from a file or from standard input, never from
// the command line. A file is read whole, standard input up to its first
// line break; one trailing line break ("\n" or "\r\n") is dropped, so
// `echo secret > file` works; everything else, blanks included, is kept.
#include <cstdio>
#include <string>

namespace quillmar_db {

// Throws jet::Error: 3024 when the file is missing, 3051 without permission.
std::string read_password_file(const std::string& path);
std::string read_password_stream(std::FILE* in);

std::string without_line_end(std::string text);

}  // namespace quillmar_db
