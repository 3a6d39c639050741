#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/failure.h"
#include "platform/file_system_object.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

using testing::ListFolder;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

std::u16string U(const std::filesystem::path& path) { return FromUtf8(path.string()); }

Failure CopyFailure(FileSystemObject& fso, const std::u16string& from, const std::u16string& to) {
  try {
    CallByName(fso, u"copyfile", InvokeKind::kMethod, {from, to});
  } catch (const Failure& failure) {
    return failure;
  }
  return Failure(0, u"no failure", u"");
}

TEST(FileSystemObject, CopyFileByNameOverwritesAndKeepsMode) {
  TempFolder folder;
  const std::string big(300000, 'x');  // more than one buffer
  WriteFile(folder / "a.mdb", big);
  ::chmod((folder / "a.mdb").c_str(), 0640);
  WriteFile(folder / "b.mdb", "old content");
  FileSystemObject fso;
  CallByName(fso, u"COPYFILE", InvokeKind::kMethod, {U(folder / "a.mdb"), U(folder / "b.mdb")});
  EXPECT_EQ(ReadFile(folder / "b.mdb"), big);
  struct stat info {};
  ASSERT_EQ(::stat((folder / "b.mdb").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(ListFolder(folder.path()), (std::vector<std::string>{"a.mdb", "b.mdb"}));
}

TEST(FileSystemObject, CopyIntoFolderAndOntoItself) {
  TempFolder folder;
  std::filesystem::create_directory(folder / "sub");
  WriteFile(folder / "a.mdb", "abc");
  FileSystemObject fso;
  fso.CopyFile(U(folder / "a.mdb"), U(folder / "sub") + u"/", true);
  EXPECT_EQ(ReadFile(folder / "sub" / "a.mdb"), "abc");
  std::filesystem::create_hard_link(folder / "a.mdb", folder / "link.mdb");
  EXPECT_EQ(CopyFailure(fso, U(folder / "a.mdb"), U(folder / "a.mdb")).number(), 70);
  EXPECT_EQ(CopyFailure(fso, U(folder / "a.mdb"), U(folder / "link.mdb")).number(), 70);
  EXPECT_EQ(ReadFile(folder / "a.mdb"), "abc");
  EXPECT_EQ(ListFolder(folder.path()), (std::vector<std::string>{"a.mdb", "link.mdb", "sub"}));
}

TEST(FileSystemObject, FileFailuresCarryNumberDescriptionAndSource) {
  TempFolder folder;
  WriteFile(folder / "a.mdb", "abc");
  FileSystemObject fso;
  const Failure missing = CopyFailure(fso, U(folder / "none.mdb"), U(folder / "b.mdb"));
  EXPECT_EQ(missing.number(), 53);
  EXPECT_EQ(missing.description(), u"File not found");
  EXPECT_EQ(missing.source(), u"Quillmar");
  EXPECT_EQ(CopyFailure(fso, U(folder / "a.mdb"), U(folder / "no" / "b.mdb")).number(), 76);
  EXPECT_EQ(CopyFailure(fso, U(folder / "no" / "a.mdb"), U(folder / "b.mdb")).number(), 76);
  std::filesystem::create_directory(folder / "dir.mdb");
  EXPECT_EQ(CopyFailure(fso, U(folder / "a.mdb"), U(folder / "dir.mdb")).number(), 70);
  EXPECT_EQ(CopyFailure(fso, U(folder / "dir.mdb"), U(folder / "b.mdb")).number(), 53);
  EXPECT_EQ(ListFolder(folder.path()), (std::vector<std::string>{"a.mdb", "dir.mdb"}));
}

TEST(FileSystemObject, FullDiskLeavesTheOldDestinationWhole) {
  TempFolder folder;
  WriteFile(folder / "a.mdb", std::string(200000, 'n'));
  WriteFile(folder / "b.mdb", "previous backup");
  int writes = 0;
  FileSystemObject fso([&writes](int fd, const void* data, std::size_t size) -> ssize_t {
    if (++writes > 1) {
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, data, size);
  });
  const Failure full = CopyFailure(fso, U(folder / "a.mdb"), U(folder / "b.mdb"));
  EXPECT_EQ(full.number(), 61);
  EXPECT_EQ(full.description(), u"Disk full");
  EXPECT_EQ(ReadFile(folder / "b.mdb"), "previous backup");
  EXPECT_EQ(ListFolder(folder.path()), (std::vector<std::string>{"a.mdb", "b.mdb"}));
}

TEST(FileSystemObject, ArgumentsAndMembersAreChecked) {
  TempFolder folder;
  WriteFile(folder / "a.mdb", "abc");
  WriteFile(folder / "b.mdb", "keep");
  FileSystemObject fso;
  const DispId copy = fso.GetIdOfName(u"CopyFile");
  try {
    fso.Invoke(copy, InvokeKind::kMethod, {U(folder / "a.mdb"), U(folder / "b.mdb"), false});
    ADD_FAILURE() << "overwrite=false must refuse";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), 58);
  }
  EXPECT_EQ(ReadFile(folder / "b.mdb"), "keep");
  fso.Invoke(copy, InvokeKind::kMethod, {U(folder / "a.mdb"), U(folder / "b.mdb"), Missing{}});
  EXPECT_EQ(ReadFile(folder / "b.mdb"), "abc");
  EXPECT_THROW(fso.Invoke(copy, InvokeKind::kMethod, {U(folder / "a.mdb")}), Failure);
  EXPECT_THROW(fso.Invoke(copy, InvokeKind::kMethod, {std::int32_t{5}, std::shared_ptr<Dispatch>()}),
               Failure);
  try {
    fso.GetIdOfName(u"MoveFile");
    ADD_FAILURE() << "unknown member accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), 438);
  }
}

}  // namespace
}  // namespace quillmar::platform
