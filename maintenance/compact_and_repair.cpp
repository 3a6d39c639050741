#include "maintenance/compact_and_repair.h"

#include <optional>

#include "maintenance/database_password.h"
#include "maintenance/unscramble_text.h"
#include "platform/secret_text.h"
#include "platform/text.h"

namespace quillmar::maintenance {
namespace {

using platform::InvokeKind;
using platform::MessageIcon;

constexpr std::optional<std::u16string> kApplicationTitle = std::nullopt;

bool EndsInMdb(const std::u16string& path) {
  // Exact and case-sensitive; a shorter caption is compared whole.
  const std::u16string_view tail =
      path.size() < 4 ? std::u16string_view(path) : std::u16string_view(path).substr(path.size() - 4);
  return tail == u".mdb";
}

void CopyFileLateBound(platform::Dispatch& fso, const std::u16string& source,
                       const std::u16string& destination) {
  platform::CallByName(fso, u"copyfile", InvokeKind::kMethod, {source, destination});
}

void CompactWithPassword(platform::DbEngine& engine, const CompactWindow& window) {
  std::u16string password = UnscrambleText(kScrambledDatabasePassword);
  platform::WipeOnExit<std::u16string> wipe_password(password);
  std::u16string source_locale;
  platform::WipeOnExit<std::u16string> wipe_locale(source_locale);
  source_locale.reserve(5 + password.size());  // no reallocation leaves a stray copy
  source_locale.append(u";pwd=").append(password);
  engine.CompactDatabase(window.lblFileCaption(), window.strTempFile, text::kDestinationLocale,
                         std::nullopt, source_locale);
}

void ReportFailure(CompactWindow& window, const CompactServices& services) {
  auto& record = services.failure_record;
  services.message_boxes.Show(text::kFailed, MessageIcon::kCritical, std::u16string(text::kFailedTitle));
  if (record.Number() == 0) {
    services.message_boxes.Show(text::kNoDetails, MessageIcon::kNone, kApplicationTitle);
  } else {
    services.message_boxes.Show(FailureDetails(record.Number(), record.Description(), record.Source()),
                                MessageIcon::kCritical, std::u16string(text::kDetailsTitle));
  }
  record.Clear();
  window.SetMousePointer(platform::kDefaultPointer);
}

}  // namespace

std::u16string BackupFileName(const platform::LocalDateTime& when) {
  return u"backup" + platform::FormatDateTime(when, u"dd-mm-yyyy_hh-mm-ss") + u".mdb";
}

std::u16string FailureDetails(std::int32_t number, const std::u16string& description,
                              const std::u16string& source) {
  return u"Error# = " + platform::Ascii(std::to_string(number)) + u"\r\nDescription = " + description +
         u"\r\nSource = " + source;
}

void CompactAndRepair(CompactWindow& window, const CompactServices& services) {
  auto& boxes = services.message_boxes;
  try {
    window.strTempFile = text::kTempFile;
    if (window.lblFileCaption().empty()) {
      boxes.Show(text::kNothingChosen, MessageIcon::kNone, kApplicationTitle);
      return;
    }
    if (!EndsInMdb(window.lblFileCaption())) {
      boxes.Show(text::kNotADatabase, MessageIcon::kNone, kApplicationTitle);
      return;
    }
    window.SetMousePointer(platform::kHourglassPointer);
    window.strBackupFile = BackupFileName(services.clock.Now());
    const std::shared_ptr<platform::Dispatch> fso =
        services.objects.CreateObject(platform::kFileSystemObjectId);
    boxes.Show(u"Your old file will be copied to " + window.strBackupFile +
                   u".  This may take few seconds... ",
               MessageIcon::kNone, kApplicationTitle);
    CopyFileLateBound(*fso, window.lblFileCaption(), window.strBackupFile);
    platform::DbEngine& engine = services.engine.Engine();
    CompactWithPassword(engine, window);
    services.file_deletion.Kill(window.lblFileCaption());
    CopyFileLateBound(*fso, window.strTempFile, window.lblFileCaption());
    services.file_deletion.Kill(window.strTempFile);
    boxes.Show(text::kDone, MessageIcon::kInformation, std::u16string(text::kDoneTitle));
    window.SetMousePointer(platform::kDefaultPointer);
  } catch (...) {
    services.failure_record.Set(platform::CurrentFailure());
    ReportFailure(window, services);
  }
}

}  // namespace quillmar::maintenance
