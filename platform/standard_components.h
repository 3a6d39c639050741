#pragma once
// Puts the three outside components into a factory under their identifiers.
#include "platform/common_dialog.h"
#include "platform/db_engine.h"
#include "platform/object_factory.h"

namespace quillmar::platform {

// The engine object is the host's single one; the file-system object and the
// dialog are made anew for each request. Both references must outlive the registry.
void RegisterStandardComponents(ComponentRegistry& registry, DbEngineHost& engine,
                                OpenFilePrompt& prompt);

}  // namespace quillmar::platform
