#pragma once
// The application object. An exception that escapes an event handler ends in
// notify(): its message is shown in an error box and the program goes on, as
// the window's handlers rely on. Exceptions raised on other threads (the
// serial watcher) are brought to the main thread and shown the same way.

#include <QApplication>
#include <functional>
#include <string>

class KelApplication : public QApplication {
 public:
  KelApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows message in the error box, on the main thread.
void ShowErrorBox(const std::string& message);
// A Japanese sentence saying what failed, then the system's own words for
// why (path and reason, which may be English) on the next line.
std::string FailureText(const char* sentence, const std::string& reason);
// Callable from any thread: the message is shown on the main thread once the
// event loop gets to it.
void ShowErrorBoxLater(const std::string& message);

// The box itself; tests put a recorder in its place. Main thread only.
using ErrorBoxFunction = std::function<void(const QString& message)>;
void SetErrorBox(ErrorBoxFunction box);
