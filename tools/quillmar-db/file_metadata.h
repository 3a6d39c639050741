#pragma once
// What a file on a share needs beside its bytes: owner, group, mode and
// every extended attribute (POSIX ACLs are the system.posix_acl_* ones,
// Samba keeps DOS attributes and Windows ACLs in user.* and security.*).
// A copy put in a file's place gets all of it, or its users may no longer
// open it.
#include <string>

namespace quillmar_db {

// Gives the file open at `to_fd` the owner, group, mode and extended
// attributes of the one at `from_fd`; attributes `to_fd` has that `from_fd`
// lacks (an ACL inherited from the folder) are removed. Throws jet::Error
// (3051 without permission, 3043 otherwise) naming `to_path`.
void copy_file_metadata(int from_fd, int to_fd, const std::string& to_path);

// Creates the folder and any missing parents, each new one with the owner,
// group and mode of the folder it is made in, so a backup folder beside a
// share's database belongs to the share.
void make_folders_like_parent(const std::string& path);

}  // namespace quillmar_db
