#pragma once
// Shared ground of the window tests: a temporary program folder, a window
// built in it, waits that keep the event loop running, and a recorder in
// place of the error box.

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
#include "VirtualLine.h"

using namespace std::chrono_literals;

// Failure messages show texts, not code units.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

// Runs the event loop until done() holds or the timeout passes; answers done().
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s);

std::string ReadFileBytes(const QString& path);
void WriteFileBytes(const QString& path, const std::string& bytes);

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
  TKelTerm& window() { return *window_; }

  // Every status text shown since the window was built.
  QStringList statusTexts;
  // Messages the error box would have shown.
  QStringList errorBoxes;
  // Questions asked, and the answer given to the next one.
  QStringList questions;
  bool answerYes = true;

 private:
  QTemporaryDir folder_;
  std::unique_ptr<TKelTerm> window_;
};

// A virtual line with a name of its own for each test; unregistered at the end.
class TestLine {
 public:
  TestLine();
  ~TestLine();
  const std::string& name() const { return name_; }
  std::string DevicePath() const { return "virtual:" + name_; }
  VirtualLine::End& far();

 private:
  std::string name_;
  std::shared_ptr<VirtualLine> line_;
};

// Settings bytes with the given device line for COM1 and port 1 chosen.
std::string SettingsWithCom1(const std::string& devicePath);
