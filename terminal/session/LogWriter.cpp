#include "LogWriter.h"

#include <unistd.h>

#include <cerrno>

#include "WriteAll.h"

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
    if (const int error = failed_ ? 0 : WriteAll(fd_, chunk)) Fail(error);
    lock.lock();
  }
  lock.unlock();
  // A close that fails (a network file system writing back late) still
  // releases the descriptor; the user hears of the lost data.
  if (::close(fd_) != 0 && errno != EINTR) Fail(errno);
}

void TLogWriter::Fail(int error) {
  if (failed_) return;
  failed_ = true;
  if (onError_) onError_(error);
}
