// The "..." button against the real dialog component, with the actual file
// dialog replaced by a scripted answer and every late-bound call recorded.
#include <gtest/gtest.h>

#include <deque>

#include "app/frm_compact.h"
#include "platform/common_dialog.h"
#include "platform/testing/scripted_message_boxes.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::app {
namespace {

using platform::InvokeKind;
using platform::Variant;

struct Invocation {
  platform::DispId id;
  InvokeKind kind;
  std::vector<Variant> arguments;
  bool operator==(const Invocation&) const = default;
};

class RecordingDispatch : public platform::Dispatch {
 public:
  explicit RecordingDispatch(std::shared_ptr<platform::Dispatch> inner) : inner_(std::move(inner)) {}
  platform::DispId GetIdOfName(std::u16string_view name) override { return inner_->GetIdOfName(name); }
  Variant Invoke(platform::DispId id, InvokeKind kind, const std::vector<Variant>& arguments) override {
    log.push_back({id, kind, arguments});
    return inner_->Invoke(id, kind, arguments);
  }
  std::vector<Invocation> log;

 private:
  std::shared_ptr<platform::Dispatch> inner_;
};

class ScriptedPrompt : public platform::OpenFilePrompt {
 public:
  std::optional<std::u16string> AskOpenFile(const platform::OpenFileRequest& request) override {
    requests.push_back(request);
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::deque<std::optional<std::u16string>> answers;
  std::vector<platform::OpenFileRequest> requests;
};

class SelectionTest : public ::testing::Test {
 protected:
  SelectionTest() {
    registry.Register(platform::kCommonDialogId, [this] {
      dialog = std::make_shared<RecordingDispatch>(std::make_shared<platform::CommonDialog>(prompt));
      return dialog;
    });
    window = std::make_unique<frmCompact>(maintenance::CompactServices{boxes, clock, registry, engine, deletion, record});
  }

  std::u16string Label() const { return window->lblFileCaption(); }

  platform::testing::CurrentDirectoryGuard restore;
  platform::testing::TempFolder folder;
  ScriptedPrompt prompt;
  std::shared_ptr<RecordingDispatch> dialog;
  platform::ComponentRegistry registry;
  platform::testing::ScriptedMessageBoxes boxes;
  platform::SystemClock clock;
  platform::DbEngineHost engine;
  platform::PosixFileDeletion deletion;
  platform::FailureRecord record;
  std::unique_ptr<frmCompact> window;
};

TEST_F(SelectionTest, SetsTheDialogUpInOrderThenShowsTheChoice) {
  const std::u16string chosen = platform::FromUtf8((folder / "stock.mdb").string());
  prompt.answers = {chosen};
  window->cmdBrowse->click();

  using platform::CommonDialog;
  const std::vector<Invocation> expected = {
      {CommonDialog::kDialogTitle, InvokeKind::kPropertyPut, {u"Select File for Maintenance"}},
      {CommonDialog::kCancelError, InvokeKind::kPropertyPut, {true}},
      {23, InvokeKind::kPropertyPut, {std::int32_t{1}}},
      {CommonDialog::kFilter, InvokeKind::kPropertyPut, {u"Access Files (*.mdb)|*.mdb"}},
      {CommonDialog::kFileName, InvokeKind::kPropertyPut, {u"*.MDB"}},
      {CommonDialog::kInitDir, InvokeKind::kPropertyPut, {u"."}},
      {CommonDialog::kShowOpen, InvokeKind::kMethod, {}},
      {CommonDialog::kFileName, InvokeKind::kPropertyGet, {}},
  };
  EXPECT_EQ(dialog->log, expected);
  ASSERT_EQ(prompt.requests.size(), 1u);
  EXPECT_EQ(prompt.requests[0].title, u"Select File for Maintenance");
  EXPECT_EQ(prompt.requests[0].file_name, u"*.MDB");
  EXPECT_EQ(prompt.requests[0].initial_directory, u".");
  EXPECT_TRUE(prompt.requests[0].file_must_exist);
  EXPECT_EQ(Label(), chosen);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SelectionTest, CancelReportsAndKeepsTheLabel) {
  const platform::testing::ShownBox bad{u"Bad File Name...", platform::MessageIcon::kCritical, u"KELVARO"};
  prompt.answers = {std::nullopt, u"/data/first.mdb", std::nullopt};
  window->cmdBrowse->click();
  EXPECT_EQ(boxes.shown, std::vector<platform::testing::ShownBox>{bad});
  EXPECT_EQ(Label(), u"");

  window->cmdBrowse->click();
  EXPECT_EQ(Label(), u"/data/first.mdb");
  window->cmdBrowse->click();
  EXPECT_EQ(boxes.shown, (std::vector<platform::testing::ShownBox>{bad, bad}));
  EXPECT_EQ(Label(), u"/data/first.mdb");
}

TEST_F(SelectionTest, EachChoiceReplacesTheLastAndIsNotValidated) {
  prompt.answers = {u"/data/a.mdb", u"/notes/readme.TXT", u"/data/<b>bold</b>.mdb"};
  window->cmdBrowse->click();
  EXPECT_EQ(Label(), u"/data/a.mdb");
  window->cmdBrowse->click();
  EXPECT_EQ(Label(), u"/notes/readme.TXT");
  window->cmdBrowse->click();
  EXPECT_EQ(Label(), u"/data/<b>bold</b>.mdb");
  EXPECT_TRUE(boxes.shown.empty());
  // The refusal of a non-database comes later, from "Compact and Repair".
  prompt.answers = {u"/notes/readme.TXT"};
  window->cmdBrowse->click();
  window->cmdCompact->click();
  EXPECT_EQ(boxes.shown.back().text, u"Please select Access Database to Compact and Repair.");
}

TEST_F(SelectionTest, BoxesThatCannotBeShownNeitherCrashNorLeaveTheHourglass) {
  prompt.answers = {u"/data/a.mdb", std::nullopt};
  window->cmdBrowse->click();
  boxes.on_show = [](const platform::testing::ShownBox&) { throw std::bad_alloc(); };
  window->cmdCompact->click();
  EXPECT_EQ(window->GetMousePointer(), 0);
  window->cmdBrowse->click();  // cancelled, and its report fails too
  EXPECT_EQ(Label(), u"/data/a.mdb");
}

TEST_F(SelectionTest, AnyFailureOfTheComponentIsABadFileName) {
  // A component that knows none of the members fails at the first put.
  registry = platform::ComponentRegistry();
  struct Broken : platform::Dispatch {
    platform::DispId GetIdOfName(std::u16string_view) override {
      throw platform::RuntimeFailure(platform::failure_number::kNoSuchMember);
    }
    Variant Invoke(platform::DispId, InvokeKind, const std::vector<Variant>&) override { return {}; }
  };
  registry.Register(platform::kCommonDialogId, [] { return std::make_shared<Broken>(); });
  window = std::make_unique<frmCompact>(maintenance::CompactServices{boxes, clock, registry, engine, deletion, record});
  window->cmdBrowse->click();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, u"Bad File Name...");
  EXPECT_EQ(Label(), u"");
}

}  // namespace
}  // namespace quillmar::app
