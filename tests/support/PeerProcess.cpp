#include "PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

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

// The group goes even when its leader has already exited: socat may end
// first and leave the program it started behind.
PeerProcess::~PeerProcess() {
  if (pid_ > 0) kill(-pid_, SIGKILL);
  while (pid_ > 0 && !reaped_ && waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
  }
  if (pidfd_ >= 0) close(pidfd_);
}

bool PeerProcess::WaitExit(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0 && !reaped_) {
    const pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) reaped_ = true;
    if (r == pid_ || (r < 0 && errno != EINTR) || pidfd_ < 0) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{pidfd_, POLLIN, 0};
    if (left.count() <= 0 || (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR))
      break;
  }
  return reaped_;
}

int PeerProcess::ExitCode() const {
  return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void PeerProcess::Signal(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

std::vector<std::string> SocatOnDevice(const std::string& devicePath, const std::string& command) {
  return {"socat", "OPEN:" + devicePath + ",raw,echo=0", "SYSTEM:" + command};
}
