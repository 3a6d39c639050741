#include "engine/error.h"

#include <utility>

namespace jet {

Error::Error(int number, std::string description, std::string source)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

}  // namespace jet
