#include "platform/qt/qt_open_file_prompt.h"

#include <QDir>
#include <QFileDialog>

#include "platform/qt/qt_text.h"

namespace quillmar::platform {

QStringList QtNameFilters(const std::u16string& filter) {
  const QStringList parts = ToQString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << (description.contains(QLatin1Char('(')) ? description
                                                        : description + QStringLiteral(" (") + patterns +
                                                              QLatin1Char(')'));
  }
  return filters;
}

std::optional<std::u16string> QtOpenFilePrompt::AskOpenFile(const OpenFileRequest& request) {
  QFileDialog dialog(parent_.data(), ToQString(request.title));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.file_must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  const QStringList filters = QtNameFilters(request.filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  dialog.setDirectory(QDir(ToQString(request.initial_directory)).absolutePath());
  if (!request.file_name.empty()) dialog.selectFile(ToQString(request.file_name));
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return FromQString(QDir::toNativeSeparators(chosen.first()));
}

}  // namespace quillmar::platform
