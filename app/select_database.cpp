#include "app/select_database.h"

namespace quillmar::app {
namespace {

using platform::InvokeKind;

void PutByName(platform::Dispatch& object, std::u16string_view name, platform::Variant value) {
  platform::CallByName(object, name, InvokeKind::kPropertyPut, {std::move(value)});
}

// The component's "file must exist" option (see platform/README.md).
constexpr platform::DispId kDialogOption23 = 23;

}  // namespace

void SelectDatabase(platform::Dispatch& cmDlg, platform::MessageBoxes& boxes,
                    const std::function<void(const std::u16string&)>& set_selected_path) {
  try {
    PutByName(cmDlg, u"DialogTitle", u"Select File for Maintenance");
    PutByName(cmDlg, u"CancelError", true);
    cmDlg.Invoke(kDialogOption23, InvokeKind::kPropertyPut, {std::int32_t{1}});
    PutByName(cmDlg, u"Filter", u"Access Files (*.mdb)|*.mdb");
    PutByName(cmDlg, u"FileName", u"*.MDB");
    PutByName(cmDlg, u"InitDir", u".");
    platform::CallByName(cmDlg, u"ShowOpen", InvokeKind::kMethod);
    set_selected_path(platform::AsText(platform::CallByName(cmDlg, u"FileName", InvokeKind::kPropertyGet)));
  } catch (...) {
    boxes.Show(u"Bad File Name...", platform::MessageIcon::kCritical, std::u16string(u"KELVARO"));
  }
}

}  // namespace quillmar::app
