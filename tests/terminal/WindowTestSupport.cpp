#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMouseEvent>

#include "Files.h"
#include "KelApplication.h"
#include "ProgramFolder.h"

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QEventLoop slice;
    QTimer::singleShot(5, &slice, &QEventLoop::quit);
    slice.exec();
  }
  return true;
}

FileDialogAnswer::FileDialogAnswer(QFileDialog* const& dialog, const QString& path) {
  QObject::connect(&timer_, &QTimer::timeout, [this, &dialog, path] {
    if (!dialog || !dialog->isVisible() || std::exchange(answered_, true)) return;
    dialog->selectFile(path);
    if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->setText(path);
    static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
  });
  timer_.start(5);
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint at) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(at), QPointF(target->mapTo(target->window(), at)),
                    QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void ActivateScreen(TKelTerm& w) {
  w.activateWindow();
  QApplication::setActiveWindow(&w);
  w.TextDrawBox->setFocus();
  ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == w.TextDrawBox; }));
}

WindowHarness::WindowHarness() {
  SetProgramFolder(folder_.path());
  SetErrorBox([this](const QString& message) { errorBoxes << message; });
}

WindowHarness::~WindowHarness() {
  window_.reset();
  SetErrorBox(nullptr);
  SetProgramFolder(QString());
}

QString WindowHarness::SettingsPath() const { return folder_.filePath("Kelterm.ini"); }

void WindowHarness::WriteSettings(const std::string& bytes) const {
  ASSERT_TRUE(WriteFile(SettingsPath().toStdString(), bytes));
}

std::string WindowHarness::ReadSettings() const { return ReadFile(SettingsPath().toStdString()); }

TKelTerm& WindowHarness::Open() {
  window_ = std::make_unique<TKelTerm>();
  statusTexts << window_->StatusText();
  QObject::connect(window_.get(), &TKelTerm::StatusTextShown,
                   [this](const QString& text) { statusTexts << text; });
  window_->AskYesNo = [this](const QString& caption, const QString& text) {
    questions << caption + "|" + text;
    return true;
  };
  window_->show();
  return *window_;
}

void WindowHarness::CloseWindow() { window_->close(); }

std::string SettingsWithCom1(const std::string& devicePath) {
  return "1\r\n38400\r\nATD\r\nATZ\r\n" + devicePath + "\r\n\r\n\r\n\r\n\r\n\r\n";
}
