#pragma once
// A window for the run: a caption to read and a record of pointer changes.
#include <string>
#include <vector>

#include "maintenance/compact_and_repair.h"

namespace quillmar::maintenance::testing {

class FakeWindow : public CompactWindow {
 public:
  std::u16string lblFileCaption() const override { return caption; }
  void SetMousePointer(int pointer) override { pointers.push_back(pointer); }
  int GetMousePointer() const override { return pointers.empty() ? 0 : pointers.back(); }

  std::u16string caption;
  std::vector<int> pointers;
};

}  // namespace quillmar::maintenance::testing
