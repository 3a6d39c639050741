#pragma once
// The window's mouse pointer property.
namespace quillmar::platform {

inline constexpr int kDefaultPointer = 0;
inline constexpr int kHourglassPointer = 11;

class MousePointer {
 public:
  virtual ~MousePointer() = default;
  virtual void SetMousePointer(int pointer) = 0;
  virtual int GetMousePointer() const = 0;
};

}  // namespace quillmar::platform
