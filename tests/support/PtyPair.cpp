#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>

#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Waits until fd reports one of events; false on time-out or error.
bool Ready(int fd, short events, Clock::time_point deadline) {
  for (pollfd p{fd, events, 0};;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int n = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

}  // namespace

PtyPair::PtyPair() {
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&raw, B9600);
  char name[256] = {};
  int master = -1;
  if (openpty(&master, &slave_, name, &raw, nullptr) != 0) return;
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  master_ = master;
  slavePath_ = name;
}

bool PtyPair::WriteAll(std::string_view bytes, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!bytes.empty()) {
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    if (n > 0)
      bytes.remove_prefix(static_cast<size_t>(n));
    else if ((n < 0 && errno != EAGAIN && errno != EINTR) || !Ready(master_, POLLOUT, deadline))
      return false;
  }
  return true;
}

std::string PtyPair::ReadUntil(const std::function<bool(const std::string&)>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  char buffer[4096];
  while (!done(got)) {
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0)
      got.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR) || !Ready(master_, POLLIN, deadline))
      break;  // EIO: no slave is open any more
  }
  return got;
}
