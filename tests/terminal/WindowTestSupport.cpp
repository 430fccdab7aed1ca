#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <atomic>

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

std::string ReadFileBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  const QByteArray bytes = file.readAll();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void WriteFileBytes(const QString& path, const std::string& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
            static_cast<qint64>(bytes.size()));
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
  WriteFileBytes(SettingsPath(), bytes);
}

std::string WindowHarness::ReadSettings() const { return ReadFileBytes(SettingsPath()); }

TKelTerm& WindowHarness::Open() {
  window_ = std::make_unique<TKelTerm>();
  statusTexts << window_->StatusText();
  QObject::connect(window_.get(), &TKelTerm::StatusTextShown,
                   [this](const QString& text) { statusTexts << text; });
  window_->AskYesNo = [this](const QString& caption, const QString& text) {
    questions << caption + "|" + text;
    return answerYes;
  };
  window_->show();
  return *window_;
}

void WindowHarness::CloseWindow() { window_->close(); }

TestLine::TestLine() {
  static std::atomic<int> counter{0};
  name_ = "window-test-" + std::to_string(++counter);
  line_ = VirtualLine::Create(name_);
}

TestLine::~TestLine() { VirtualLine::Remove(name_); }

VirtualLine::End& TestLine::far() { return line_->end(1); }

std::string SettingsWithCom1(const std::string& devicePath) {
  return "1\r\n38400\r\nATD\r\nATZ\r\n" + devicePath + "\r\n\r\n\r\n\r\n\r\n\r\n";
}
