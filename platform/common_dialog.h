#pragma once
// The open-file dialog component ("MSComDlg.CommonDialog"), reached by late
// binding. It keeps its properties and asks an OpenFilePrompt to show the
// actual dialog, so the toolkit part stays apart (platform/qt/).
#include <optional>
#include <string>

#include "platform/dispatch.h"

namespace quillmar::platform {

// What the dialog is asked to show.
struct OpenFileRequest {
  std::u16string title;
  std::u16string filter;     // "description|pattern|description|pattern..."
  std::u16string file_name;  // proposed in the file-name field
  std::u16string initial_directory;
  bool file_must_exist = false;
};

class OpenFilePrompt {
 public:
  virtual ~OpenFilePrompt() = default;
  // Full path of the file the user confirmed, or nothing when cancelled.
  virtual std::optional<std::u16string> AskOpenFile(const OpenFileRequest& request) = 0;
};

class CommonDialog : public Dispatch {
 public:
  // Identifiers of the members; 23 is the option "the chosen file must exist".
  static constexpr DispId kDialogTitle = 1;
  static constexpr DispId kCancelError = 2;
  static constexpr DispId kFilter = 3;
  static constexpr DispId kFileName = 4;
  static constexpr DispId kInitDir = 5;
  static constexpr DispId kShowOpen = 10;
  static constexpr DispId kFileMustExist = 23;

  explicit CommonDialog(OpenFilePrompt& prompt);

  DispId GetIdOfName(std::u16string_view name) override;
  Variant Invoke(DispId id, InvokeKind kind, const std::vector<Variant>& arguments) override;

 private:
  void ShowOpen();

  OpenFilePrompt& prompt_;
  std::u16string dialog_title_;
  bool cancel_error_ = false;
  std::u16string filter_;
  std::u16string file_name_;
  std::u16string init_dir_;
  bool file_must_exist_ = false;
};

}  // namespace quillmar::platform
