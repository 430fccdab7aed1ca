#include "LogWriter.h"

#include <unistd.h>

#include <cerrno>

TLogWriter::TLogWriter(int fd, std::function<void(int error)> onError)
    : fd_(fd), onError_(std::move(onError)), thread_([this] { Run(); }) {}

TLogWriter::~TLogWriter() { Stop(); }

void TLogWriter::Put(std::string chunk) {
  if (chunk.empty()) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(chunk));
  }
  wake_.notify_one();
}

void TLogWriter::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void TLogWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) break;  // stopping, and everything is written
    std::string chunk = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    if (!failed_) WriteAll(chunk);
    lock.lock();
  }
  lock.unlock();
  // A close that fails (a network file system writing back late) still
  // releases the descriptor; the user hears of the lost data.
  if (::close(fd_) != 0 && errno != EINTR) Fail(errno);
}

// One write call for a whole chunk when the file system allows it, so a
// reader never sees half a line unless the disk is filling up.
bool TLogWriter::WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      Fail(n < 0 ? errno : ENOSPC);
      return false;
    }
  }
  return true;
}

void TLogWriter::Fail(int error) {
  if (failed_) return;
  failed_ = true;
  if (onError_) onError_(error);
}
