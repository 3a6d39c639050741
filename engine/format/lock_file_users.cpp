#include "engine/format/lock_file_users.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

#include "engine/format/text_codec.h"

namespace jet {
namespace {

constexpr std::uint16_t kAnsiCodePage = 1252;

std::string read_name(std::span<const std::uint8_t> field) {
  const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
  std::span<const std::uint8_t> name(field.begin(), end);
  while (!name.empty() && name.back() == ' ') name = name.first(name.size() - 1);
  while (!name.empty() && name.front() == ' ') name = name.subspan(1);
  std::u16string text = decode_code_page(name, kAnsiCodePage);
  // The names go into messages; a damaged file must not put control
  // characters there.
  for (char16_t& c : text) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) c = u'?';
  }
  return utf16_to_utf8(text);
}

}  // namespace

std::vector<LockFileUser> parse_lock_file_users(std::span<const std::uint8_t> bytes) {
  std::vector<LockFileUser> users;
  const std::size_t entries = std::min(bytes.size() / kLockFileEntrySize, kLockFileMaxEntries);
  for (std::size_t i = 0; i < entries; ++i) {
    const auto entry = bytes.subspan(i * kLockFileEntrySize, kLockFileEntrySize);
    LockFileUser user{read_name(entry.first(kLockFileNameSize)), read_name(entry.subspan(kLockFileNameSize))};
    if (user.computer.empty() && user.account.empty()) continue;
    if (std::find(users.begin(), users.end(), user) == users.end()) users.push_back(std::move(user));
  }
  return users;
}

Bytes lock_file_entry(const LockFileUser& user) {
  Bytes entry(kLockFileEntrySize, 0);
  const auto put = [&](const std::string& name, std::size_t at) {
    Bytes coded = encode_code_page(utf8_to_utf16(name), kAnsiCodePage);
    coded.resize(std::min(coded.size(), kLockFileNameSize - 1));
    std::copy(coded.begin(), coded.end(), entry.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(user.computer, 0);
  put(user.account, kLockFileNameSize);
  return entry;
}

std::string lock_file_path(const std::string& database) {
  // Access names it after the database's name, not its format (an ACE file
  // called ".mdb" gets an ".ldb"); we must look where its users write.
  static constexpr std::array<std::string_view, 3> kAceExtensions{".accdb", ".accde", ".accdr"};
  std::filesystem::path path(database);
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  const bool ace = std::find(kAceExtensions.begin(), kAceExtensions.end(), extension) != kAceExtensions.end();
  path.replace_extension(ace ? ".laccdb" : ".ldb");
  return path.string();
}

std::string describe_lock_file_users(const std::vector<LockFileUser>& users) {
  std::string text;
  for (const LockFileUser& user : users) {
    if (!text.empty()) text += ", ";
    if (user.computer.empty()) {
      text += user.account;
    } else {
      text += user.computer;
      if (!user.account.empty()) text += " (" + user.account + ")";
    }
  }
  return text;
}

}  // namespace jet
