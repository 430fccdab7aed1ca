#pragma once
// Shared ground of the window tests: a temporary program folder, a window
// built in it, waits that keep the event loop running, and a recorder in
// place of the error box.

#include <QEvent>
#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "KTerm.h"
#include "Stations.h"
#include "VirtualLine.h"

using namespace std::chrono_literals;

// Failure messages show texts, not code units.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

// Runs the event loop until done() holds or the timeout passes; answers done().
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s);

// Answers the window's next file dialog as a user would: types path into its
// name field and confirms.
class FileDialogAnswer {
 public:
  FileDialogAnswer(QFileDialog* const& dialog, const QString& path);

 private:
  QTimer timer_;
  bool answered_ = false;
};

// The left button pressed, moved with it held, or released at a point of target.
void SendMouse(QWidget* target, QEvent::Type type, QPoint at);

// Makes the window the active one with the focus on its terminal screen, as
// the user's click does.
void ActivateScreen(TKelTerm& w);

// A test's program folder, error box and window.
class WindowHarness {
 public:
  WindowHarness();
  ~WindowHarness();

  QString SettingsPath() const;
  void WriteSettings(const std::string& bytes) const;
  std::string ReadSettings() const;

  // Builds the window (reading the settings) and shows it.
  TKelTerm& Open();
  // Closes the window as the user would, which writes the settings.
  void CloseWindow();

  QStringList statusTexts;  // every one shown since the window was built
  QStringList errorBoxes;   // what the error box would have shown
  QStringList questions;    // each is answered Yes

 private:
  QTemporaryDir folder_;
  std::unique_ptr<TKelTerm> window_;
};

// A virtual line with a name of its own for each test; unregistered at the end.
class TestLine {
 public:
  explicit TestLine(int speed = 0)  // bit/s; 0 moves bytes at once
      : name_(UniqueLineName("window")), line_(VirtualLine::Create(name_, {.speed = speed})) {
    far().SetRts(true);  // the port's CTS
  }
  ~TestLine() { VirtualLine::Remove(name_); }
  std::string DevicePath() const { return "virtual:" + name_; }
  VirtualLine::End& far() { return line_->end(1); }

 private:
  std::string name_;
  std::shared_ptr<VirtualLine> line_;
};

// Settings bytes with the given device line for COM1 and port 1 chosen.
std::string SettingsWithCom1(const std::string& devicePath);
