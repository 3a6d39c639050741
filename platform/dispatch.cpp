#include "platform/dispatch.h"

#include "platform/failure.h"
#include "platform/text.h"

namespace quillmar::platform {

DispId FindMember(std::u16string_view name, std::initializer_list<DispatchMember> members) {
  for (const auto& member : members) {
    if (EqualsIgnoringCase(member.name, name)) return member.id;
  }
  throw RuntimeFailure(failure_number::kNoSuchMember);
}

Variant CallByName(Dispatch& object, std::u16string_view name, InvokeKind kind,
                   const std::vector<Variant>& arguments) {
  return object.Invoke(object.GetIdOfName(name), kind, arguments);
}

}  // namespace quillmar::platform
