#include "ModemWait.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

constexpr int kWatchedLines = TIOCM_CD | TIOCM_CTS | TIOCM_DSR | TIOCM_RNG;
constexpr auto kResendEvery = std::chrono::milliseconds(5);

// A real-time signal nothing else in the program uses.
int StopSignal() { return SIGRTMIN + 3; }

void Ignore(int) {}

// Installed once for the process; without SA_RESTART, so a blocked ioctl
// returns EINTR instead of being restarted.
void InstallStopHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = Ignore;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(StopSignal(), &action, nullptr);
  });
}

}  // namespace

ModemWait::ModemWait(int fd) : fd_(fd), eventFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  InstallStopHandler();
  if (eventFd_ < 0) {
    watching_ = false;
    left_ = true;
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

ModemWait::~ModemWait() {
  Stop();
  if (eventFd_ >= 0) close(eventFd_);
}

void ModemWait::Drain() {
  eventfd_t value;
  eventfd_read(eventFd_, &value);
}

// The flag goes up before the eventfd, so a waiter that has drained the
// eventfd always finds it.
void ModemWait::Raise() {
  changed_ = true;
  eventfd_write(eventFd_, 1);
}

void ModemWait::Run() {
  sigset_t stopOnly;
  sigemptyset(&stopOnly);
  sigaddset(&stopOnly, StopSignal());
  pthread_sigmask(SIG_UNBLOCK, &stopOnly, nullptr);
  while (!stop_) {
    if (ioctl(fd_, TIOCMIWAIT, kWatchedLines) == 0) {
      Raise();
      continue;
    }
    if (errno == EINTR) continue;
    // EINVAL or ENOTTY: the driver can't wait; EIO: the line hung up.
    watching_ = false;
    Raise();
    break;
  }
  std::lock_guard lock(mutex_);
  left_ = true;
  leftCv_.notify_all();
}

void ModemWait::Stop() {
  std::unique_lock lock(mutex_);
  stop_ = true;
  while (!left_) {
    pthread_kill(thread_.native_handle(), StopSignal());
    leftCv_.wait_for(lock, kResendEvery);
  }
  if (thread_.joinable()) thread_.join();
}
