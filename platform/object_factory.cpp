#include "platform/object_factory.h"

#include <utility>

#include "platform/failure.h"
#include "platform/text.h"

namespace quillmar::platform {

void ComponentRegistry::Register(std::u16string programmatic_id, Maker maker) {
  makers_.emplace_back(std::move(programmatic_id), std::move(maker));
}

std::shared_ptr<Dispatch> ComponentRegistry::CreateObject(std::u16string_view programmatic_id) {
  for (const auto& [id, maker] : makers_) {
    if (EqualsIgnoringCase(id, programmatic_id)) {
      if (auto object = maker()) return object;
      break;
    }
  }
  throw RuntimeFailure(failure_number::kCannotCreateObject);
}

}  // namespace quillmar::platform
