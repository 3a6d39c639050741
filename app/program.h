#pragma once
// Everything the running program is made of: the outside components and the
// window that uses them. Built after the QApplication.
#include <memory>

#include "app/frm_compact.h"
#include "platform/clock.h"
#include "platform/db_engine.h"
#include "platform/failure.h"
#include "platform/file_deletion.h"
#include "platform/object_factory.h"
#include "platform/qt/qt_message_boxes.h"
#include "platform/qt/qt_open_file_prompt.h"

namespace quillmar::app {

class Program {
 public:
  Program();
  frmCompact& window() { return *window_; }

 private:
  platform::QtMessageBoxes message_boxes_;
  platform::QtOpenFilePrompt open_file_prompt_;
  platform::SystemClock clock_;
  platform::DbEngineHost engine_;
  platform::ComponentRegistry components_;
  platform::PosixFileDeletion file_deletion_;
  platform::FailureRecord failure_record_;
  std::unique_ptr<frmCompact> window_;
};

}  // namespace quillmar::app
