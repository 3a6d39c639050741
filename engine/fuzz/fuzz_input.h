#pragma once
// What a fuzz input holds: a database, optionally preceded by the line
// "PASSWORD:<password>\n". The seeds made from encrypted samples carry
// their passwords this way, so that mutations reach past the password check
// into the decrypted pages instead of stopping at 3031.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace jet::fuzz {

struct FuzzInput {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::optional<std::string> password;
};

inline FuzzInput split_fuzz_input(const std::uint8_t* data, std::size_t size) {
  constexpr char kPrefix[] = "PASSWORD:";
  constexpr std::size_t kPrefixSize = sizeof kPrefix - 1;
  constexpr std::size_t kMaxLine = 1024;
  if (size < kPrefixSize || std::memcmp(data, kPrefix, kPrefixSize) != 0) return {data, size, std::nullopt};
  for (std::size_t i = kPrefixSize; i < size && i < kMaxLine; ++i) {
    if (data[i] == '\n') {
      return {data + i + 1, size - i - 1,
              std::string(reinterpret_cast<const char*>(data + kPrefixSize), i - kPrefixSize)};
    }
  }
  return {data, size, std::nullopt};
}

}  // namespace jet::fuzz
