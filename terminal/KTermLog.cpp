// The session log: the name from its template, and the file that records the
// lines received while the port session is open.
#include <QDateTime>
#include <QFile>
#include <QLocale>

#include "ElidedText.h"
#include "KTerm.h"
#include "KelApplication.h"
#include "LogName.h"
#include "LogTime.h"
#include "ProgramFolder.h"
#include "ShiftJis.h"

namespace {

// The name is Shift-JIS like all text of the program; the file system wants
// UTF-8.
std::string LogPath(const std::string& name) {
  return QFile::encodeName(ProgramFolder() + QLatin1Char('/')).toStdString() +
         PathFromShiftJis(name);
}

// The header's middle line: the system's short date and long time.
std::string OpeningTimeText() {
  return ToShiftJis(LogTimeText(QLocale::system(), QDateTime::currentDateTime()));
}

}  // namespace

void TKelTerm::SetLogFileName(const std::string& Template) {
  LogFileNameBytes = ExpandLogTemplate(Template, LocalTimeNow());
  LogFileName->SetWholeText(FromShiftJis(LogFileNameBytes));
}

void TKelTerm::LogOpen(size_t FirstLine) {
  // A write error is told on the log's writer thread; the box waits for the
  // main thread.
  Session.LogOpen(LogPath(LogFileNameBytes), OpeningTimeText(), FirstLine,
                  [](const std::string& message) {
                    ShowErrorBoxLater(FailureText("ログファイルに書き込めません.", message));
                  });
}
