#pragma once
// Creates components by programmatic identifier ("Scripting.FileSystemObject",
// "DAO.DBEngine.36", "MSComDlg.CommonDialog"), matched without regard to case.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"

namespace quillmar::platform {

inline constexpr char16_t kFileSystemObjectId[] = u"Scripting.FileSystemObject";
inline constexpr char16_t kDbEngineId[] = u"DAO.DBEngine.36";
inline constexpr char16_t kCommonDialogId[] = u"MSComDlg.CommonDialog";

class ObjectFactory {
 public:
  virtual ~ObjectFactory() = default;
  // Raises "ActiveX component can't create object" (429) for an unknown identifier.
  virtual std::shared_ptr<Dispatch> CreateObject(std::u16string_view programmatic_id) = 0;
};

// A factory filled with one maker per identifier.
class ComponentRegistry : public ObjectFactory {
 public:
  using Maker = std::function<std::shared_ptr<Dispatch>()>;

  void Register(std::u16string programmatic_id, Maker maker);
  std::shared_ptr<Dispatch> CreateObject(std::u16string_view programmatic_id) override;

 private:
  std::vector<std::pair<std::u16string, Maker>> makers_;
};

}  // namespace quillmar::platform
