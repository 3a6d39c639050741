#include "tools/quillmar-db/maintain_targets.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

namespace quillmar_db {
namespace {

namespace fs = std::filesystem;

constexpr int kInvalidArgument = 3001;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

MaintainOutcome failure(const std::string& path, int number, const std::string& description) {
  MaintainOutcome out;
  out.path = path;
  out.status = MaintainStatus::Failed;
  out.error = jet::Error(number, description, kMaintainSource);
  return out;
}

class Finder {
 public:
  Finder(bool recursive, const std::optional<std::string>& backup_dir) : recursive_(recursive), backup_dir_(backup_dir) {}

  void named(const std::string& operand) {
    std::error_code ec;
    const fs::file_status status = fs::status(operand, ec);
    if (ec || !fs::exists(status)) {
      result_.failures.push_back(failure(operand, jet::errc::kCouldNotFindFile, "Could not find file '" + operand + "'."));
    } else if (fs::is_directory(status)) {
      search(fs::path(operand), fs::path());
    } else if (!fs::is_regular_file(status) || !is_database_name(operand)) {
      result_.failures.push_back(failure(operand, kInvalidArgument,
                                         "'" + operand + "' is not an .mdb or .accdb file nor a folder."));
    } else {
      // Through a link, the database itself is replaced, beside itself.
      const fs::path path = fs::is_symlink(fs::symlink_status(operand, ec)) ? fs::canonical(operand, ec) : fs::path(operand);
      add(path, fs::path(operand).filename());
    }
  }

  MaintainTargets take() { return std::move(result_); }

 private:
  void search(const fs::path& folder, const fs::path& relative) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (const auto& entry : fs::directory_iterator(folder, ec)) entries.push_back(entry);
    if (ec) {
      result_.failures.push_back(failure(folder.string(), 3051, "Cannot list the folder '" + folder.string() + "': " +
                                                                    ec.message() + "."));
      return;
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
      const std::string name = entry.path().filename().string();
      if (entry.is_symlink(ec)) continue;
      if (entry.is_directory(ec)) {
        if (recursive_ && name != kBackupFolderName && !is_backup_dir(entry.path())) search(entry.path(), relative / name);
      } else if (entry.is_regular_file(ec) && is_database_name(name)) {
        add(entry.path(), relative / name);
      }
    }
  }

  bool is_backup_dir(const fs::path& folder) const {
    std::error_code ec;
    return backup_dir_ && fs::equivalent(folder, *backup_dir_, ec);
  }

  void add(const fs::path& path, const fs::path& relative) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !seen_.insert({st.st_dev, st.st_ino}).second) return;  // named twice
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    const fs::path backups = backup_dir_ ? fs::path(*backup_dir_) / relative
                                         : folder / kBackupFolderName / path.filename();
    const std::string key = backups.lexically_normal().string();
    // --keep counts one database's backups: two may not share a folder.
    if (const auto [it, fresh] = backup_owner_.emplace(key, path.string()); !fresh) {
      result_.failures.push_back(failure(path.string(), kInvalidArgument,
                                         "Its backups would share the folder '" + key + "' with those of '" +
                                             it->second + "'; name the folders one by one or give another --backup-dir."));
      return;
    }
    result_.databases.push_back(MaintainTarget{path.string(), backups.string()});
  }

  bool recursive_;
  std::optional<std::string> backup_dir_;
  MaintainTargets result_;
  std::set<std::pair<dev_t, ino_t>> seen_;
  std::map<std::string, std::string> backup_owner_;
};

}  // namespace

bool is_database_name(const std::string& name) {
  const std::string extension = lower(fs::path(name).extension().string());
  return extension == ".mdb" || extension == ".accdb";
}

MaintainTargets find_databases(const std::vector<std::string>& operands, bool recursive,
                               const std::optional<std::string>& backup_dir) {
  Finder finder(recursive, backup_dir);
  for (const std::string& operand : operands) finder.named(operand);
  return finder.take();
}

}  // namespace quillmar_db
