#pragma once
// What the salvage reader's parts share about damage: running a read and
// taking any sign of damage as its description, and the words of the log.
#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/error.h"
#include "engine/file/file_errors.h"
#include "engine/format/damaged.h"
#include "engine/model/value.h"

namespace jet::salvage {

// Runs `body`; any sign of damage comes back as its description.
template <typename Body>
inline std::optional<std::string> damage_of(Body&& body) {
  try {
    body();
    return std::nullopt;
  } catch (const DamagedData& e) {
    return std::string(e.what());
  } catch (const Error& e) {
    if (is_environment_fault(e)) throw;
    // The damaged-file error keeps where the reader gave up in its source.
    const std::string& source = e.source();
    const std::size_t open = source.find(" (");
    if (e.number() == errc::kCannotOpenDatabase && open != std::string::npos && source.back() == ')') {
      return source.substr(open + 2, source.size() - open - 3);
    }
    return e.description();
  } catch (const std::length_error& e) {
    return std::string(e.what());
  } catch (const std::bad_alloc&) {
    return std::string("a stored length is too large");
  }
}

inline std::string rows_text(std::size_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }
inline std::string were(std::size_t n) { return n == 1 ? " was" : " were"; }

inline bool all_zero(const Bytes& page) {
  return std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace jet::salvage
