#pragma once
// The source of a compaction, held for the length of the run so that it is
// never compacted while someone has it open: the database with a flock and
// a read lock over all its bytes, its lock file (".ldb", or ".laccdb" beside
// an ".accdb": lock_file_path) with a flock when there is one. A lock of
// anyone else on either file, of any kind (engine/file/FILES.md), means the
// database is in use (3356); the message names the users the lock file
// lists.
#include <memory>
#include <string>

#include "engine/file/env.h"

namespace jet {

class SourceHold {
 public:
  // Holds and tests the database; throws 3356 when it is in use, or when
  // its lock file names users and its locks cannot be tested.
  SourceHold(Env& env, std::string database);
  // Tests both files again (someone may have opened the database since);
  // throws as the constructor does.
  void test_again();

 private:
  void test();

  Env& env_;
  std::string database_;
  std::string lock_file_;
  std::unique_ptr<FileHold> database_hold_;
  std::unique_ptr<FileHold> lock_file_hold_;
};

}  // namespace jet
