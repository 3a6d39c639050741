#include "tools/quillmar-db/maintain_backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "engine/error.h"
#include "engine/file/env.h"
#include "tools/quillmar-db/file_metadata.h"
#include "tools/quillmar-db/maintain_outcome.h"

namespace quillmar_db {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPartialPrefix = ".partial-";

bool digits(const std::string& s, std::size_t at, std::size_t n) {
  if (at + n > s.size()) return false;
  return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(at), s.begin() + static_cast<std::ptrdiff_t>(at + n),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// Closes a descriptor on every way out.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Unsynced: the caller syncs once the metadata is set too.
void copy_bytes(jet::Env& env, const std::string& from, const std::string& to) {
  auto in = env.open_readable(from);
  auto out = env.create_exclusive(to);
  const std::uint64_t size = in->size();
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
  for (std::uint64_t at = 0; at < size; at += buffer.size()) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - at));
    in->read(at, n, buffer.data());
    out->append(buffer.data(), n);
  }
  out->close();
}

}  // namespace

std::string backup_file_name(const std::tm& local, const std::string& extension, int repeat) {
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "%02d-%02d-%04d_%02d-%02d-%02d", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return "backup" + std::string(stamp) + (repeat > 1 ? "_" + std::to_string(repeat) : std::string()) + extension;
}

std::optional<std::string> backup_sort_key(const std::string& name, const std::string& extension) {
  // backupDD-MM-YYYY_HH-MM-SS[_N]EXT
  constexpr std::size_t kStampEnd = 6 + 19;
  if (!name.starts_with("backup") || !name.ends_with(extension) || name.size() < kStampEnd + extension.size()) {
    return std::nullopt;
  }
  const bool shape = digits(name, 6, 2) && name[8] == '-' && digits(name, 9, 2) && name[11] == '-' &&
                     digits(name, 12, 4) && name[16] == '_' && digits(name, 17, 2) && name[19] == '-' &&
                     digits(name, 20, 2) && name[22] == '-' && digits(name, 23, 2);
  if (!shape) return std::nullopt;
  const std::string repeat = name.substr(kStampEnd, name.size() - kStampEnd - extension.size());
  if (!repeat.empty() && (repeat[0] != '_' || repeat.size() > 7 || !digits(repeat, 1, repeat.size() - 1))) {
    return std::nullopt;
  }
  const std::string n = repeat.empty() ? std::string("1") : repeat.substr(1);
  // Year, month, day, time, then the repeat number padded to sort as a number.
  return name.substr(12, 4) + name.substr(9, 2) + name.substr(6, 2) + name.substr(17, 8) +
         std::string(8 - n.size(), '0') + n;
}

std::string make_backup(jet::Env& env, const std::string& database, int database_fd, const std::string& folder,
                        std::time_t now) {
  make_folders_like_parent(folder);
  const std::string extension = fs::path(database).extension().string();
  std::tm local{};
  ::localtime_r(&now, &local);
  std::string target;
  for (int repeat = 1;; ++repeat) {
    target = (fs::path(folder) / backup_file_name(local, extension, repeat)).string();
    if (!env.file_exists(target)) break;
  }
  // Until it is complete the copy has a name no backup has, so a run cut
  // short never leaves a half backup that looks whole.
  const std::string partial = (fs::path(folder) / (kPartialPrefix + fs::path(target).filename().string())).string();
  try {
    // Left by a run killed within this second; we hold the database, so
    // it is no one else's.
    if (env.file_exists(partial)) env.remove(partial);
    copy_bytes(env, database, partial);
    Fd copy{::open(partial.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    if (copy.fd < 0) throw jet::Error(3043, "Cannot open the backup '" + partial + "': " + std::strerror(errno) + ".", kMaintainSource);
    copy_file_metadata(database_fd, copy.fd, partial);
    if (::fsync(copy.fd) != 0) throw jet::Error(3043, "Cannot sync the backup '" + partial + "'.", kMaintainSource);
    env.rename(partial, target);
    env.sync_directory(folder);
  } catch (...) {
    try {
      if (env.file_exists(partial)) env.remove(partial);
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  return target;
}

std::vector<std::string> prune_backups(jet::Env& env, const std::string& folder, const std::string& extension,
                                       unsigned keep) {
  std::vector<std::pair<std::string, std::string>> backups;  // key, path
  std::vector<std::string> removed;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(kPartialPrefix)) {
      env.remove(entry.path().string());
      removed.push_back(entry.path().string());
    } else if (const auto key = backup_sort_key(name, extension); key && entry.is_regular_file(ec)) {
      backups.emplace_back(*key, entry.path().string());
    }
  }
  if (ec) throw jet::Error(3043, "Cannot list the backup folder '" + folder + "': " + ec.message() + ".", kMaintainSource);
  std::sort(backups.begin(), backups.end());
  for (std::size_t i = 0; i + keep < backups.size(); ++i) {
    env.remove(backups[i].second);
    removed.push_back(backups[i].second);
  }
  // Not synced: a removal undone by a crash costs nothing.
  return removed;
}

}  // namespace quillmar_db
