#include <gtest/gtest.h>

#include <optional>

#include "platform/common_dialog.h"
#include "platform/failure.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

class FakePrompt : public OpenFilePrompt {
 public:
  std::optional<std::u16string> AskOpenFile(const OpenFileRequest& request) override {
    asked.push_back(request);
    return answer;
  }
  std::vector<OpenFileRequest> asked;
  std::optional<std::u16string> answer;
};

void Put(Dispatch& dialog, std::u16string_view name, Variant value) {
  CallByName(dialog, name, InvokeKind::kPropertyPut, {std::move(value)});
}

TEST(CommonDialog, PassesItsPropertiesToThePromptAndReturnsTheChoice) {
  testing::TempFolder folder;
  testing::CurrentDirectoryGuard restore;
  FakePrompt prompt;
  prompt.answer = FromUtf8((folder / "stock.mdb").string());
  CommonDialog dialog(prompt);
  Put(dialog, u"dialogtitle", u"Pick");
  Put(dialog, u"CancelError", true);
  dialog.Invoke(23, InvokeKind::kPropertyPut, {std::int32_t{1}});
  Put(dialog, u"Filter", u"Access Files (*.mdb)|*.mdb");
  Put(dialog, u"FileName", u"*.MDB");
  Put(dialog, u"InitDir", u".");
  CallByName(dialog, u"ShowOpen", InvokeKind::kMethod);

  ASSERT_EQ(prompt.asked.size(), 1u);
  const OpenFileRequest& request = prompt.asked[0];
  EXPECT_EQ(request.title, u"Pick");
  EXPECT_EQ(request.filter, u"Access Files (*.mdb)|*.mdb");
  EXPECT_EQ(request.file_name, u"*.MDB");
  EXPECT_EQ(request.initial_directory, u".");
  EXPECT_TRUE(request.file_must_exist);
  EXPECT_EQ(CallByName(dialog, u"FILENAME", InvokeKind::kPropertyGet), Variant(*prompt.answer));
  EXPECT_EQ(dialog.GetIdOfName(u"FileMustExist"), 23);
  // A confirmed choice moves the current directory to the file's folder.
  EXPECT_EQ(std::filesystem::current_path(), folder.path());
}

TEST(CommonDialog, CancelRaisesOnlyWithCancelErrorAndKeepsTheDirectory) {
  testing::CurrentDirectoryGuard restore;
  const auto before = std::filesystem::current_path();
  FakePrompt prompt;  // answers "cancelled"
  CommonDialog dialog(prompt);
  Put(dialog, u"FileName", u"*.MDB");
  CallByName(dialog, u"ShowOpen", InvokeKind::kMethod);
  EXPECT_EQ(CallByName(dialog, u"FileName", InvokeKind::kPropertyGet), Variant(std::u16string()));

  Put(dialog, u"CancelError", true);
  try {
    CallByName(dialog, u"ShowOpen", InvokeKind::kMethod);
    ADD_FAILURE() << "cancel did not raise";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), 32755);
    EXPECT_EQ(failure.description(), u"Cancel was selected.");
    EXPECT_EQ(failure.source(), u"CommonDialog");
  }
  EXPECT_EQ(std::filesystem::current_path(), before);
  // Unset initial directory means the current one.
  EXPECT_EQ(prompt.asked.back().initial_directory, u".");
}

TEST(CommonDialog, RefusesUnknownMembersAndWrongUse) {
  FakePrompt prompt;
  CommonDialog dialog(prompt);
  EXPECT_THROW(dialog.GetIdOfName(u"ShowSave"), Failure);
  EXPECT_THROW(dialog.Invoke(99, InvokeKind::kPropertyPut, {std::int32_t{1}}), Failure);
  EXPECT_THROW(dialog.Invoke(CommonDialog::kShowOpen, InvokeKind::kMethod, {std::int32_t{1}}), Failure);
  EXPECT_THROW(dialog.Invoke(CommonDialog::kFilter, InvokeKind::kMethod, {}), Failure);
  EXPECT_TRUE(prompt.asked.empty());
}

}  // namespace
}  // namespace quillmar::platform
