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
  fd_ = fd;
  path_ = path;
  failed_ = false;
  std::string header;
  header.append(kRule).append("\r\n").append(dateText).append("\r\n").append(kRule).append("\r\n");
  pending_ = std::move(header);
  Flush();
}

void TSessionLog::WriteLine(std::string_view line) {
  if (!IsOpen()) return;
  pending_.append(line).append("\r\n");
  if (pending_.size() >= kFlushAbove) Flush();
}

void TSessionLog::Flush() {
  if (!IsOpen() || pending_.empty()) return;
  WriteAll(pending_);
  pending_.clear();
  if (pending_.capacity() > 4 * kFlushAbove) std::string().swap(pending_);
}

void TSessionLog::Close() {
  if (!IsOpen()) return;
  Flush();
  const int fd = fd_;
  fd_ = -1;
  // A close that fails (a network file system writing back late) still
  // releases the descriptor; the user hears of the lost data.
  if (::close(fd) != 0 && errno != EINTR) Fail(errno);
}

// One write call for all collected lines when the file system allows it, so
// a reader never sees half a line unless the disk is filling up.
void TSessionLog::WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      Fail(n < 0 ? errno : ENOSPC);
      return;
    }
  }
}

void TSessionLog::Fail(int error) {
  if (failed_) return;
  failed_ = true;
  if (OnError) OnError(Describe(path_, error));
}
