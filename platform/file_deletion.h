#pragma once
// The run time's deletion of one named file.
#include <string>

namespace quillmar::platform {

class FileDeletion {
 public:
  virtual ~FileDeletion() = default;
  // Raises a file failure (53 when the file is missing, 76 when its folder is).
  virtual void Kill(const std::u16string& path) = 0;
};

class PosixFileDeletion : public FileDeletion {
 public:
  void Kill(const std::u16string& path) override;
};

}  // namespace quillmar::platform
