#include "platform/standard_components.h"

#include "platform/file_system_object.h"

namespace quillmar::platform {

void RegisterStandardComponents(ComponentRegistry& registry, DbEngineHost& engine,
                                OpenFilePrompt& prompt) {
  registry.Register(kFileSystemObjectId, [] { return std::make_shared<FileSystemObject>(); });
  registry.Register(kDbEngineId, [&engine] { return engine.EngineObject(); });
  registry.Register(kCommonDialogId, [&prompt] { return std::make_shared<CommonDialog>(prompt); });
}

}  // namespace quillmar::platform
