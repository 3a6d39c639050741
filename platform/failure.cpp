#include "platform/failure.h"

#include <new>
#include <utility>

#include "engine/error.h"
#include "platform/text.h"

namespace quillmar::platform {

Failure::Failure(std::int32_t number, std::u16string description, std::u16string source)
    : number_(number),
      description_(std::move(description)),
      source_(std::move(source)),
      what_(ToUtf8(description_)) {}

Failure RuntimeFailure(std::int32_t number) {
  namespace n = failure_number;
  const char* description = "Application-defined or object-defined error";
  switch (number) {
    case n::kOverflow: description = "Overflow"; break;
    case n::kOutOfMemory: description = "Out of memory"; break;
    case n::kTypeMismatch: description = "Type mismatch"; break;
    case n::kInternalError: description = "Internal error"; break;
    case n::kFileNotFound: description = "File not found"; break;
    case n::kFileAlreadyExists: description = "File already exists"; break;
    case n::kDiskFull: description = "Disk full"; break;
    case n::kPermissionDenied: description = "Permission denied"; break;
    case n::kPathFileAccessError: description = "Path/File access error"; break;
    case n::kPathNotFound: description = "Path not found"; break;
    case n::kCannotCreateObject: description = "ActiveX component can't create object"; break;
    case n::kNoSuchMember: description = "Object doesn't support this property or method"; break;
    case n::kWrongArguments: description = "Wrong number of arguments or invalid property assignment"; break;
    default: break;
  }
  return Failure(number, Ascii(description), kRuntimeSource);
}

void FailureRecord::Set(const Failure& failure) {
  number_ = failure.number();
  description_ = failure.description();
  source_ = failure.source();
}

void FailureRecord::Clear() {
  number_ = 0;
  description_.clear();
  source_.clear();
}

Failure CurrentFailure() {
  try {
    throw;
  } catch (const Failure& failure) {
    return failure;
  } catch (const jet::Error& error) {
    return Failure(error.number(), FromUtf8(error.description()), FromUtf8(error.source()));
  } catch (const std::bad_alloc&) {
    return RuntimeFailure(failure_number::kOutOfMemory);
  } catch (const std::exception& error) {
    return Failure(failure_number::kInternalError, FromUtf8(error.what()), kRuntimeSource);
  } catch (...) {
    return RuntimeFailure(failure_number::kInternalError);
  }
}

}  // namespace quillmar::platform
