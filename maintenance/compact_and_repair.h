#pragma once
// The compact-and-repair run behind the window's "Compact and Repair" button.
#include <string>

#include "platform/clock.h"
#include "platform/db_engine.h"
#include "platform/failure.h"
#include "platform/file_deletion.h"
#include "platform/message_boxes.h"
#include "platform/mouse_pointer.h"
#include "platform/object_factory.h"

namespace quillmar::maintenance {

// What the run needs of the window: the selected path (the label's caption,
// fetched afresh at every use), the mouse pointer, and the two window-level
// file names that outlive a run.
class CompactWindow : public platform::MousePointer {
 public:
  virtual std::u16string lblFileCaption() const = 0;

  std::u16string strBackupFile;
  std::u16string strTempFile;
};

// The outside components the run drives.
struct CompactServices {
  platform::MessageBoxes& message_boxes;
  platform::Clock& clock;
  platform::ObjectFactory& objects;
  platform::DbEngineHost& engine;
  platform::FileDeletion& file_deletion;
  platform::FailureRecord& failure_record;
};

// Backs up the selected database, has the engine compact it into a temporary
// file, and puts the result in the database's place. Every outcome is told in
// message boxes; a failure at any step ends the run with two boxes, the
// pointer back to normal and the failure record clear. Nothing is undone.
void CompactAndRepair(CompactWindow& window, const CompactServices& services);

// Texts of the run, shared with the tests.
namespace text {
inline constexpr char16_t kTempFile[] = u"temp.mdb";
inline constexpr char16_t kNothingChosen[] = u"Click the browse button to choose a Database file.";
inline constexpr char16_t kNotADatabase[] = u"Please select Access Database to Compact and Repair.";
inline constexpr char16_t kDone[] = u"Database repaired and compressed OK.";
inline constexpr char16_t kDoneTitle[] = u"Compact & Repair";
inline constexpr char16_t kFailed[] = u"Unable to compress and/or repair database!";
inline constexpr char16_t kFailedTitle[] = u"Error";
inline constexpr char16_t kDetailsTitle[] = u"Program Error!";
inline constexpr char16_t kNoDetails[] = u"error message";
inline constexpr char16_t kDestinationLocale[] = u";LANGID=0x0409;CP=1252;COUNTRY=0";
}  // namespace text

// "backup" + "dd-mm-yyyy_hh-mm-ss" + ".mdb"
std::u16string BackupFileName(const platform::LocalDateTime& when);
// "Error# = n\r\nDescription = d\r\nSource = s"
std::u16string FailureDetails(std::int32_t number, const std::u16string& description,
                              const std::u16string& source);

}  // namespace quillmar::maintenance
