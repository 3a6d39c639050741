#include "platform/common_dialog.h"

#include <filesystem>
#include <system_error>

#include "platform/failure.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

inline constexpr char16_t kDialogSource[] = u"CommonDialog";

// Text properties are read and written the same way.
Variant Property(std::u16string& field, InvokeKind kind, const std::vector<Variant>& arguments) {
  if (kind == InvokeKind::kPropertyGet) return field;
  field = AsText(arguments.back());
  return Empty{};
}

Variant Property(bool& field, InvokeKind kind, const std::vector<Variant>& arguments) {
  if (kind == InvokeKind::kPropertyGet) return field;
  field = AsBoolean(arguments.back());
  return Empty{};
}

}  // namespace

CommonDialog::CommonDialog(OpenFilePrompt& prompt) : prompt_(prompt) {}

DispId CommonDialog::GetIdOfName(std::u16string_view name) {
  return FindMember(name, {{u"DialogTitle", kDialogTitle},
                           {u"CancelError", kCancelError},
                           {u"Filter", kFilter},
                           {u"FileName", kFileName},
                           {u"InitDir", kInitDir},
                           {u"ShowOpen", kShowOpen},
                           {u"FileMustExist", kFileMustExist}});
}

Variant CommonDialog::Invoke(DispId id, InvokeKind kind, const std::vector<Variant>& arguments) {
  if (id == kShowOpen) {
    if (kind != InvokeKind::kMethod) throw RuntimeFailure(failure_number::kNoSuchMember);
    if (!arguments.empty()) throw RuntimeFailure(failure_number::kWrongArguments);
    ShowOpen();
    return Empty{};
  }
  if (kind == InvokeKind::kMethod) throw RuntimeFailure(failure_number::kNoSuchMember);
  if (kind == InvokeKind::kPropertyPut && arguments.size() != 1) {
    throw RuntimeFailure(failure_number::kWrongArguments);
  }
  switch (id) {
    case kDialogTitle: return Property(dialog_title_, kind, arguments);
    case kCancelError: return Property(cancel_error_, kind, arguments);
    case kFilter: return Property(filter_, kind, arguments);
    case kFileName: return Property(file_name_, kind, arguments);
    case kInitDir: return Property(init_dir_, kind, arguments);
    case kFileMustExist: return Property(file_must_exist_, kind, arguments);
    default: throw RuntimeFailure(failure_number::kNoSuchMember);
  }
}

void CommonDialog::ShowOpen() {
  const auto chosen = prompt_.AskOpenFile(
      {dialog_title_, filter_, file_name_, init_dir_.empty() ? u"." : init_dir_, file_must_exist_});
  if (!chosen) {
    if (cancel_error_) {
      throw Failure(failure_number::kDialogCancelled, u"Cancel was selected.", kDialogSource);
    }
    file_name_.clear();
    return;
  }
  file_name_ = *chosen;
  // Like the classic dialog, a confirmed choice makes the file's folder the
  // current directory, so a later backup lands beside the database.
  std::error_code ignored;
  const auto folder = PathOf(file_name_).parent_path();
  if (!folder.empty()) std::filesystem::current_path(folder, ignored);
}

}  // namespace quillmar::platform
