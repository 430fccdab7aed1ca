#include "PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>

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
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);  // a group led by the peer
  if (posix_spawnp(&pid_, args[0], &actions, &attr, args.data(), environ) != 0) pid_ = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

// The group goes even when its leader has already exited: socat may end
// first and leave the program it started behind.
PeerProcess::~PeerProcess() {
  if (pid_ > 0) kill(-pid_, SIGKILL);
  if (pid_ > 0 && !reaped_) waitpid(pid_, &status_, 0);
  if (pidfd_ >= 0) close(pidfd_);
}

// The pidfd turns readable when the process ends, before it is reaped.
bool PeerProcess::WaitExit(int timeoutMs) {
  pollfd p{pidfd_, POLLIN, 0};
  if (!reaped_ && pidfd_ >= 0 && poll(&p, 1, timeoutMs) > 0)
    reaped_ = waitpid(pid_, &status_, 0) == pid_;
  return reaped_;
}

std::vector<std::string> SocatOnDevice(const std::string& devicePath, const std::string& command) {
  return {"socat", "OPEN:" + devicePath + ",raw,echo=0", "SYSTEM:" + command};
}
