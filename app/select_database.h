#pragma once
// The selection behind the "..." button: sets up the open-file dialog
// component by late binding, opens it and hands back the chosen path.
#include <functional>
#include <string>

#include "platform/dispatch.h"
#include "platform/message_boxes.h"

namespace quillmar::app {

// Calls set_selected_path with the dialog's FileName when the user confirms a
// file. Any failure (a cancelled dialog among them) shows "Bad File Name..."
// and leaves the selection alone.
void SelectDatabase(platform::Dispatch& cmDlg, platform::MessageBoxes& boxes,
                    const std::function<void(const std::u16string&)>& set_selected_path);

}  // namespace quillmar::app
