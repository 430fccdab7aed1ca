#pragma once
// One port session's record in a log file. The file is opened for appending
// (created when missing), so several sessions on one name follow each other,
// each after its header: a line of 18 "-", the opening date and time, and
// again 18 "-". Every line is written as the bytes given plus CR LF. Lines
// collect in memory until Flush, which the receive path calls once per
// notification: one write a notification instead of one a line keeps a fast
// line fast, and nothing waits longer than the notification that brought it.
// The disk is written by the log's own TLogWriter thread: Flush only queues.
//
// Threading. The owner keeps every call under one lock (the session uses
// TextBuffer's, which the receive path already holds when it writes a line).
// OnError runs on the writer thread.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "LogWriter.h"

class TSessionLog {
 public:
  TSessionLog() = default;
  ~TSessionLog();
  TSessionLog(const TSessionLog&) = delete;
  TSessionLog& operator=(const TSessionLog&) = delete;

  // Told the first write failure of each opened session (a full disk fails
  // every line after it; once is enough to tell the user). Set before Open.
  std::function<void(const std::string& message)> OnError;

  // Closes a log still open, then opens path and writes the header with
  // dateText as its middle line. Throws std::runtime_error naming the path
  // and the reason when the file cannot be opened; a failed header write
  // goes to OnError and leaves the log open.
  void Open(const std::string& path, std::string_view dateText);
  bool IsOpen() const { return writer_ != nullptr; }
  // Appends line and CR LF; nothing when the log is not open.
  void WriteLine(std::string_view line);
  // Hands the collected lines to the file.
  void Flush();
  // Flushes and ends the session's record once every queued byte is on
  // its way to the disk.
  void Close();

 private:
  std::unique_ptr<TLogWriter> writer_;  // set while open
  std::string pending_;                 // lines not yet handed to the writer
};
