#pragma once
// The program's one window: the selected path and the two commands.
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "maintenance/compact_and_repair.h"
#include "platform/dispatch.h"

namespace quillmar::app {

// Positions and sizes are laid out in twips, 15 to a pixel at 96 dpi.
constexpr int TwipsToPixels(int twips) { return twips / 15; }

class frmCompact : public QWidget, public maintenance::CompactWindow {
  Q_OBJECT

 public:
  // services must outlive the window.
  explicit frmCompact(const maintenance::CompactServices& services, QWidget* parent = nullptr);

  // Shows the window at the centre of its screen.
  void ShowCentred();

  // maintenance::CompactWindow
  std::u16string lblFileCaption() const override;
  void SetMousePointer(int pointer) override;
  int GetMousePointer() const override { return mouse_pointer_; }

  QLabel* lblFile;
  QPushButton* cmdBrowse;
  QPushButton* cmdCompact;

 public slots:
  void cmdBrowse_Click();
  void cmdCompact_Click();

 private:
  void Form_Load();

  maintenance::CompactServices services_;
  std::shared_ptr<platform::Dispatch> cmDlg_;
  int mouse_pointer_ = 0;
};

}  // namespace quillmar::app
