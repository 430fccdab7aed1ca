#include "PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& argv, const std::string& dir,
                         const std::string& outputPath) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!outputPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);  // a group of its own, led by the peer
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ) == 0) pid_ = pid;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

// The group is ended even when its leader has already exited: socat may go
// first and leave the program it started behind.
PeerProcess::~PeerProcess() {
  if (pid_ > 0) kill(-pid_, SIGKILL);
  if (pid_ > 0 && !reaped_) {
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
  }
  if (pidfd_ >= 0) close(pidfd_);
}

bool PeerProcess::WaitExit(int timeoutMs) {
  if (pid_ <= 0 || reaped_) return reaped_;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const pid_t r = wait4(pid_, &status_, WNOHANG, &usage_);
    if (r == pid_) {
      reaped_ = true;
      return true;
    }
    if (r < 0 && errno != EINTR) return false;
    const int left = RemainingMs(deadline);
    if (left == 0) return false;
    pollfd p{pidfd_, POLLIN, 0};
    if (pidfd_ < 0 || poll(&p, 1, left) < 0) {
      if (errno != EINTR) return false;
    }
  }
}

int PeerProcess::ExitCode() const {
  if (!reaped_ || !WIFEXITED(status_)) return -1;
  return WEXITSTATUS(status_);
}

double PeerProcess::CpuSeconds() const {
  return Seconds(usage_.ru_utime) + Seconds(usage_.ru_stime);
}

void PeerProcess::Signal(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

void PeerProcess::KillGroup() {
  if (pid_ > 0 && !reaped_) kill(-pid_, SIGKILL);
}

bool WaitForPath(const std::string& path, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return false;
  inotify_add_watch(fd, dir.c_str(), IN_CREATE | IN_MOVED_TO);
  struct stat st;
  bool found = false;
  while (!(found = lstat(path.c_str(), &st) == 0)) {
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, RemainingMs(deadline));
    if (n == 0 || (n < 0 && errno != EINTR)) break;
    char events[4096];
    while (read(fd, events, sizeof events) > 0) {
    }
  }
  close(fd);
  return found;
}

std::vector<std::string> SocatOnNewPty(const std::string& linkPath, const std::string& command) {
  return {"socat", "PTY,raw,echo=0,wait-slave,link=" + linkPath, "SYSTEM:" + command};
}

std::vector<std::string> SocatOnDevice(const std::string& devicePath, const std::string& command) {
  return {"socat", "OPEN:" + devicePath + ",raw,echo=0", "SYSTEM:" + command};
}
