#pragma once
// One error type for the whole engine. It carries the three things the
// application's failure record shows: a number, a description and a source.
#include <stdexcept>
#include <string>

namespace jet {

// Numbers follow the ones the classic Jet engine reports, so that a user who
// looks a number up finds the familiar meaning.
namespace errc {
inline constexpr int kCouldNotFindFile = 3024;      // "Could not find file '<path>'."
inline constexpr int kNotAValidPassword = 3031;     // "Not a valid password."
inline constexpr int kCannotOpenDatabase = 3049;    // damaged file
inline constexpr int kDatabaseAlreadyExists = 3204; // "Database already exists."
inline constexpr int kUnrecognizedFormat = 3343;    // "Unrecognized database format '<path>'."
inline constexpr int kDatabaseInUse = 3356;         // another process holds the file
inline constexpr int kNotBuiltYet = 3251;          // operation not supported (yet)
}  // namespace errc

inline constexpr const char* kEngineSource = "Quillmar Jet engine";

class Error : public std::runtime_error {
 public:
  Error(int number, std::string description, std::string source = kEngineSource);

  int number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }

 private:
  int number_;
  std::string description_;
  std::string source_;
};

}  // namespace jet
