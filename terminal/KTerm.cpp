#include "KTerm.h"
#include "ShiftJis.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "ElidedText.h"
#include "KelApplication.h"
#include "LineLamps.h"
#include "PaintBox.h"

namespace {

constexpr int kFormWidth = 655;
constexpr int kFormHeight = 529;
constexpr int kTickMs = 150;

bool DefaultAskYesNo(QWidget* parent, const QString& caption, const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return QMessageBox::question(parent, caption, shown, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

}  // namespace

TKelTerm::TKelTerm(QWidget* parent) : QMainWindow(parent), KELCOMM1(std::make_unique<TKELCOMM>()) {
  setWindowTitle(QStringLiteral("KELTERM"));
  auto* client = new QWidget(this);
  QPalette gray = client->palette();
  gray.setColor(QPalette::Window, QColor(128, 128, 128));
  client->setPalette(gray);
  client->setAutoFillBackground(true);
  setCentralWidget(client);
  BuildPanes(client);
  BuildMenus();

  Timer2 = new QTimer(this);
  Timer2->setInterval(kTickMs);
  AskYesNo = [this](const QString& caption, const QString& text) {
    return DefaultAskYesNo(this, caption, text);
  };

  resize(kFormWidth, kFormHeight);
  // The width is fixed: only the height follows the user, maximised or not.
  setFixedWidth(kFormWidth);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kFormWidth / 2, kFormHeight / 2));
  }

  SetUpComponent();
  SetUpDeviceFollow();
  ConnectControls();
  FormCreate();
  Timer2->start();
  TextDrawBox->setFocus();
}

TKelTerm::~TKelTerm() {
  qApp->removeEventFilter(this);
  if (destroyed_) return;
  destroyed_ = true;
  try {
    FormDestroy();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
}

void TKelTerm::BuildPanes(QWidget* client) {
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  BuildToolbar();
  BuildPhoneBookPane();
  BuildModemPane();
  BuildBackScrollPane();  // with Separater1
  BuildScreenAndStatus(client);
  BuildOneLinePane();
  DummyPanel = new QWidget(client);
  DummyPanel->setFixedSize(1, 0);
  DummyPanel->setFocusPolicy(Qt::StrongFocus);

  for (QWidget* pane : {static_cast<QWidget*>(Panel1), static_cast<QWidget*>(NetSettingPanel),
                        static_cast<QWidget*>(ModemSettingPanel), static_cast<QWidget*>(BackText),
                        static_cast<QWidget*>(Separater1)})
    column->addWidget(pane);
  column->addWidget(TextDrawBox, 1);
  column->addWidget(StatusBar1);
  column->addWidget(Panel2);
  column->addWidget(DummyPanel);
  NetSettingPanel->hide();
  ModemSettingPanel->hide();
  BackText->hide();
  Panel2->hide();
}

void TKelTerm::BuildScreenAndStatus(QWidget* client) {
  TextDrawBox = new QFrame(client);
  TextDrawBox->setFocusPolicy(Qt::StrongFocus);
  TextDrawBox->setAcceptDrops(true);
  TextDrawBox->setAutoFillBackground(true);
  QPalette white = TextDrawBox->palette();
  white.setColor(QPalette::Window, Qt::white);
  TextDrawBox->setPalette(white);
  PaintBox1 = new TPaintBox(TextDrawBox);
  auto* fill = new QVBoxLayout(TextDrawBox);
  fill->setContentsMargins(0, 0, 0, 0);
  fill->addWidget(PaintBox1);

  StatusBar1 = new QStatusBar(client);
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setAutoFillBackground(true);
  QPalette face = StatusBar1->palette();
  face.setColor(QPalette::Window, QColor(192, 192, 192));
  StatusBar1->setPalette(face);
  statusText_ = new QLabel(StatusBar1);
  // The close of a session disables the window for seconds, and the bar is
  // what tells the user why: its text keeps the enabled colour.
  QPalette text = statusText_->palette();
  text.setColor(QPalette::Disabled, QPalette::WindowText,
                text.color(QPalette::Active, QPalette::WindowText));
  statusText_->setPalette(text);
  StatusBar1->addWidget(statusText_, 1);
  statusReason_ = new TElidedLabel(StatusBar1);
  statusReason_->setPalette(text);
  StatusBar1->addWidget(statusReason_, 2);
  lineLamps_ = new TLineLamps(StatusBar1);
  StatusBar1->addPermanentWidget(lineLamps_);
  SetStatusText(QStringLiteral("KELTERM Version 2.02  開発 1996.10 - 1997.03"));
}

QString TKelTerm::StatusText() const { return statusText_->text(); }

QString TKelTerm::StatusReason() const { return statusReason_->WholeText(); }

void TKelTerm::SetStatusText(const QString& text) {
  statusText_->setText(text);
  statusReason_->SetWholeText(QString());
  emit StatusTextShown(text);
}

void TKelTerm::FocusScreen() {
  if (TextDrawBox->isVisible()) TextDrawBox->setFocus();
}

bool TKelTerm::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) FormActivate();
  if (event->type() == QEvent::WindowDeactivate) FormDeactivate();
  return QMainWindow::event(event);
}

// Installed on the application: sees every event first, as the message hook
// and the form's key preview need.
bool TKelTerm::eventFilter(QObject* watched, QEvent* event) {
  if (AppOnMessage(watched, event)) return true;
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress && watched->isWidgetType()) {
    // A key that nobody takes travels up to the parents; the preview sees it
    // once, at the widget that has the focus.
    QWidget* target = QApplication::focusWidget();
    if (!target) target = QApplication::activeWindow();
    if (watched == target && target->window() == this) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (KeyPress(key)) return true;
      if (watched == Edit1 && Edit1KeyPress(key)) return true;
    }
  }
  if (watched == TextDrawBox && (type == QEvent::InputMethod || type == QEvent::InputMethodQuery) &&
      ScreenInputMethod(event))
    return true;
  if (watched == TextDrawBox &&
      (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) &&
      ScreenDragAndDrop(event))
    return true;
  if (watched == TextDrawBox && type == QEvent::FocusIn) TextDrawBoxEnter();
  if (watched == TextDrawBox && type == QEvent::FocusOut) TextDrawBoxExit();
  if (watched == DummyPanel && type == QEvent::FocusIn) DummyPanelEnter();
  return QMainWindow::eventFilter(watched, event);
}

void TKelTerm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TKelTerm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TKelTerm::mousePressEvent(QMouseEvent* event) {
  QMainWindow::mousePressEvent(event);
  FormClick();
}

void TKelTerm::closeEvent(QCloseEvent* event) {
  // The hang-up keeps the window disabled; a second close request then would
  // run the exit path inside the first.
  if (closingSession_) {
    event->ignore();
    return;
  }
  if (!destroyed_) {
    destroyed_ = true;
    FormDestroy();
  }
  event->accept();
}
