#include "app/frm_compact.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/app_icon.h"
#include "app/select_database.h"
#include "app/window_fonts.h"
#include "platform/object_factory.h"
#include "platform/qt/qt_text.h"

namespace quillmar::app {
namespace {

QRect TwipsRect(int left, int top, int width, int height) {
  return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

}  // namespace

frmCompact::frmCompact(const maintenance::CompactServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      services_(services),
      cmDlg_(services.objects.CreateObject(platform::kCommonDialogId)) {
  setObjectName(QStringLiteral("frmCompact"));
  setWindowTitle(QStringLiteral("Compact And Repair  Database  - Utility"));
  setWindowIcon(AppIcon());
  setFont(WindowFont());
  setFixedSize(TwipsToPixels(6825), TwipsToPixels(1680));

  // Created in tab order: the label first (it takes no focus), then the buttons.
  lblFile = new QLabel(QStringLiteral("Click the Browse button to Choose a database to compact and repair..."),
                       this);
  lblFile->setObjectName(QStringLiteral("lblFile"));
  lblFile->setGeometry(TwipsRect(150, 180, 5985, 795));
  lblFile->setTextFormat(Qt::PlainText);  // a path is never markup
  lblFile->setWordWrap(true);
  lblFile->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  cmdBrowse = new QPushButton(QStringLiteral("..."), this);
  cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
  cmdBrowse->setGeometry(TwipsRect(6210, 390, 435, 405));
  cmdBrowse->setFont(BrowseButtonFont());
  cmdBrowse->setToolTip(QStringLiteral("Choose a Database file to Compact and Repair"));

  cmdCompact = new QPushButton(QStringLiteral("Compact and Repair"), this);
  cmdCompact->setObjectName(QStringLiteral("cmdCompact"));
  cmdCompact->setGeometry(TwipsRect(2130, 1170, 1635, 375));

  setTabOrder(cmdBrowse, cmdCompact);
  cmdBrowse->setFocus();

  connect(cmdBrowse, &QPushButton::clicked, this, &frmCompact::cmdBrowse_Click);
  connect(cmdCompact, &QPushButton::clicked, this, &frmCompact::cmdCompact_Click);
  Form_Load();
}

void frmCompact::Form_Load() { lblFile->setText(QString()); }

void frmCompact::ShowCentred() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  auto centre = [this, screen] {
    if (screen == nullptr) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  };
  centre();
  show();
  centre();  // the frame's true size is known only once the window is shown
}

std::u16string frmCompact::lblFileCaption() const { return platform::FromQString(lblFile->text()); }

void frmCompact::SetMousePointer(int pointer) {
  mouse_pointer_ = pointer;
  if (pointer == platform::kHourglassPointer) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}

// The procedures report their own failures. Should the reporting itself fail
// (no memory for a message box), the exception must still not cross Qt's
// event loop, and the pointer must not stay busy.
void frmCompact::cmdBrowse_Click() {
  try {
    SelectDatabase(*cmDlg_, services_.message_boxes,
                   [this](const std::u16string& path) { lblFile->setText(platform::ToQString(path)); });
  } catch (...) {
  }
}

void frmCompact::cmdCompact_Click() {
  try {
    maintenance::CompactAndRepair(*this, services_);
  } catch (...) {
    SetMousePointer(platform::kDefaultPointer);
  }
}

}  // namespace quillmar::app
