// The session log: the name from its template, and the file that records the
// lines received while the port session is open.
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QStringDecoder>
#include <mutex>

#include "KTerm.h"
#include "KelApplication.h"
#include "LogName.h"
#include "ProgramFolder.h"
#include "SessionLog.h"
#include "ShiftJis.h"

namespace {

// The name is Shift-JIS like all text of the program; the file system wants
// the local encoding. Bytes that are no Shift-JIS text are taken as they
// stand.
std::string LogPath(const std::string& name) {
  QStringDecoder decode(ShiftJisCodecName());
  const QString text = decode(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
  const QByteArray folder = QFile::encodeName(ProgramFolder() + QLatin1Char('/'));
  const QByteArray file = decode.hasError()
                              ? QByteArray(name.data(), static_cast<qsizetype>(name.size()))
                              : QFile::encodeName(text);
  return (folder + file).toStdString();
}

// The header's middle line: the system's short date and long time.
std::string OpeningTimeText() {
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  return ToShiftJis(locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                    locale.toString(now.time(), QLocale::LongFormat));
}

}  // namespace

void TKelTerm::SetLogFileName(const std::string& Template) {
  LogFileNameBytes = ExpandLogTemplate(Template, LocalTimeNow());
  LogFileName->setText(FromShiftJis(LogFileNameBytes));
}

size_t TKelTerm::LogFirstLine() {
  std::lock_guard lock(TextBuffer.Mutex());
  return TextBuffer.Count() - 1;
}

void TKelTerm::LogOpen(size_t FirstLine) {
  const std::string path = LogPath(LogFileNameBytes);
  const std::string opened = OpeningTimeText();
  std::lock_guard lock(TextBuffer.Mutex());
  // Runs on the watcher too; the box waits for the main thread.
  LogFile.OnError = [](const std::string& message) { ShowErrorBoxLater(message); };
  LogFile.Open(path, opened);
  for (size_t i = FirstLine; i + 1 < TextBuffer.Count(); ++i) LogFile.WriteLine(TextBuffer.Line(i));
  LogFile.Flush();
}

void TKelTerm::LogWriteLine(std::string_view Line) { LogFile.WriteLine(Line); }

void TKelTerm::LogFlush() { LogFile.Flush(); }

void TKelTerm::LogClose() {
  std::lock_guard lock(TextBuffer.Mutex());
  if (!LogFile.IsOpen()) return;
  LogFile.WriteLine(TextBuffer.CurrentLine());
  LogFile.Close();
}
