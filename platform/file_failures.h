#pragma once
// Turns an operating-system error on a file into the run time's failure.
#include <filesystem>

#include "platform/failure.h"

namespace quillmar::platform {

// errno value -> 53, 58, 61, 70, 75 or 76 (see README.md). The path decides
// between "file not found" and "path not found" when the error is ENOENT.
Failure FileFailure(int error_number, const std::filesystem::path& path);

}  // namespace quillmar::platform
