#include "app/program.h"

#include "platform/standard_components.h"

namespace quillmar::app {

Program::Program() {
  platform::RegisterStandardComponents(components_, engine_, open_file_prompt_);
  window_ = std::make_unique<frmCompact>(maintenance::CompactServices{
      message_boxes_, clock_, components_, engine_, file_deletion_, failure_record_});
  message_boxes_.SetParentWindow(window_.get());
  open_file_prompt_.SetParentWindow(window_.get());
}

}  // namespace quillmar::app
