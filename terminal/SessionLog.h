#pragma once
// One port session's record in a log file. The file is opened for appending
// (created when missing), so several sessions on one name follow each other,
// each after its header: a line of 18 "-", the opening date and time, and
// again 18 "-". Every line is written as the bytes given plus CR LF. Lines
// collect in memory until Flush, which the receive path calls once per
// notification: one write a notification instead of one a line keeps a fast
// line fast, and nothing waits longer than the notification that brought it.
//
// Threading. None of its own: the owner keeps every call under one lock (the
// window uses TextBuffer's, which the receive path already holds when it
// writes a line).

#include <functional>
#include <string>
#include <string_view>

class TSessionLog {
 public:
  TSessionLog() = default;
  ~TSessionLog();
  TSessionLog(const TSessionLog&) = delete;
  TSessionLog& operator=(const TSessionLog&) = delete;

  // Told the first write failure of each opened session (a full disk fails
  // every line after it; once is enough to tell the user).
  std::function<void(const std::string& message)> OnError;

  // Closes a log still open, then opens path and writes the header with
  // dateText as its middle line. Throws std::runtime_error naming the path
  // and the reason when the file cannot be opened; a failed header write
  // goes to OnError and leaves the log open.
  void Open(const std::string& path, std::string_view dateText);
  bool IsOpen() const { return fd_ >= 0; }
  // Appends line and CR LF; nothing when the log is not open.
  void WriteLine(std::string_view line);
  // Hands the collected lines to the file.
  void Flush();
  // Flushes and ends the session's record.
  void Close();

 private:
  void WriteAll(const std::string& bytes);
  void Fail(int error);

  int fd_ = -1;
  std::string path_;
  bool failed_ = false;
  std::string pending_;  // lines not yet handed to the file
};
