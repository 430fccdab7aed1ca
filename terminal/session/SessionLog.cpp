#include "SessionLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

const char kRule[] = "------------------";  // 18 "-"
constexpr size_t kFlushAbove = 64 * 1024;

// strerror_r comes in two shapes (GNU returns the text, XSI fills buf).
[[maybe_unused]] const char* ErrorText(int rc, const char* buf) {
  return rc == 0 ? buf : "unknown error";
}
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }

// The reason in words; safe on any thread.
std::string Describe(const std::string& path, int error) {
  char buf[256] = "";
  return path + ": " + ErrorText(strerror_r(error, buf, sizeof buf), buf);
}

}  // namespace

TSessionLog::~TSessionLog() { Close(); }

void TSessionLog::Open(const std::string& path, std::string_view dateText) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw std::runtime_error(Describe(path, errno));
  writer_ = std::make_unique<TLogWriter>(fd, [path, onError = OnError](int error) {
    if (onError) onError(Describe(path, error));
  });
  pending_.append(kRule).append("\r\n").append(dateText).append("\r\n").append(kRule).append(
      "\r\n");
  Flush();
}

void TSessionLog::WriteLine(std::string_view line) {
  if (!IsOpen()) return;
  pending_.append(line).append("\r\n");
  if (pending_.size() >= kFlushAbove) Flush();
}

void TSessionLog::Flush() {
  if (!IsOpen() || pending_.empty()) return;
  writer_->Put(std::move(pending_));
  pending_ = std::string();
}

void TSessionLog::Close() {
  if (!IsOpen()) return;
  Flush();
  writer_->Stop();
  writer_.reset();
}
