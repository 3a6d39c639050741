#pragma once
// The file-system object ("Scripting.FileSystemObject"), reached by late
// binding. Its one member is CopyFile(source, destination[, overwrite]).
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

#include "platform/dispatch.h"

namespace quillmar::platform {

class FileSystemObject : public Dispatch {
 public:
  static constexpr DispId kCopyFile = 1;

  // Writes go through this so tests can make the disk run full.
  using WriteFn = std::function<ssize_t(int fd, const void* data, std::size_t size)>;

  FileSystemObject();
  explicit FileSystemObject(WriteFn write);

  DispId GetIdOfName(std::u16string_view name) override;
  Variant Invoke(DispId id, InvokeKind kind, const std::vector<Variant>& arguments) override;

  // Copies one file. An existing destination is replaced only when the copy
  // is complete: the data goes to a hidden sibling first, is flushed to disk
  // with its folder, and is then renamed into place. A destination that ends
  // in "/" names a folder to copy into. Copying a file onto itself is refused
  // with "Permission denied". Raises a file failure otherwise.
  void CopyFile(const std::u16string& source, const std::u16string& destination, bool overwrite);

 private:
  WriteFn write_;
};

}  // namespace quillmar::platform
