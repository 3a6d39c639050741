#pragma once
// Failures as the run time reports them: a number, a description and a
// source. Outside components raise them as exceptions; the click procedures'
// handlers copy them into the failure record, read it and clear it.
// platform/README.md lists the numbers.
#include <cstdint>
#include <exception>
#include <string>

namespace quillmar::platform {

namespace failure_number {
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kOutOfMemory = 7;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kInternalError = 51;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kFileAlreadyExists = 58;
inline constexpr std::int32_t kDiskFull = 61;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kPathFileAccessError = 75;
inline constexpr std::int32_t kPathNotFound = 76;
inline constexpr std::int32_t kCannotCreateObject = 429;
inline constexpr std::int32_t kNoSuchMember = 438;
inline constexpr std::int32_t kWrongArguments = 450;
inline constexpr std::int32_t kInvalidArgument = 3001;  // engine: bad connect string or option
inline constexpr std::int32_t kDialogCancelled = 32755;
}  // namespace failure_number

// Source of failures the run time itself raises.
inline constexpr char16_t kRuntimeSource[] = u"Quillmar";

class Failure : public std::exception {
 public:
  Failure(std::int32_t number, std::u16string description, std::u16string source);

  std::int32_t number() const { return number_; }
  const std::u16string& description() const { return description_; }
  const std::u16string& source() const { return source_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::int32_t number_;
  std::u16string description_;
  std::u16string source_;
  std::string what_;
};

// A failure of the run time itself, with its standard description.
Failure RuntimeFailure(std::int32_t number);

// What the run time remembers about the last failure.
class FailureRecord {
 public:
  void Set(const Failure& failure);
  void Clear();

  std::int32_t Number() const { return number_; }
  const std::u16string& Description() const { return description_; }
  const std::u16string& Source() const { return source_; }

 private:
  std::int32_t number_ = 0;
  std::u16string description_;
  std::u16string source_;
};

// Turns whatever a procedure caught into a failure: our own failures pass
// unchanged, engine errors keep their three parts, anything else becomes a
// run-time failure. Call only from inside a catch block.
Failure CurrentFailure();

}  // namespace quillmar::platform
