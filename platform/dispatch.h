#pragma once
// Late binding: a component is reached by member names looked up at run time
// (without regard to case) and invoked by the identifier the lookup gives.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace quillmar::platform {

using DispId = std::int32_t;

enum class InvokeKind { kMethod, kPropertyGet, kPropertyPut };

class Dispatch {
 public:
  virtual ~Dispatch() = default;
  // Raises "Object doesn't support this property or method" (438) for an unknown name.
  virtual DispId GetIdOfName(std::u16string_view name) = 0;
  // A property put takes the new value as its last argument.
  virtual Variant Invoke(DispId id, InvokeKind kind, const std::vector<Variant>& arguments) = 0;
};

// One member of a component: the name callers look up and the identifier it stands for.
struct DispatchMember {
  std::u16string_view name;
  DispId id;
};

// Looks a name up in a component's member table; raises 438 when absent.
DispId FindMember(std::u16string_view name, std::initializer_list<DispatchMember> members);

// Name lookup and invoke in one step, the way a late-bound call reads.
Variant CallByName(Dispatch& object, std::u16string_view name, InvokeKind kind,
                   const std::vector<Variant>& arguments = {});

}  // namespace quillmar::platform
