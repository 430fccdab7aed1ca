#pragma once
// A peer program (socat running lrzsz, or our command-line tool) in a process
// group of its own, ended with all it started. One owner thread.

#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

class PeerProcess {
 public:
  // Starts argv in dir (empty: here), input from /dev/null, output and
  // errors to outputPath (empty: inherited).
  PeerProcess(const std::vector<std::string>& argv, const std::string& dir,
              const std::string& outputPath = std::string());
  ~PeerProcess();  // SIGKILL to the whole group, then reaps
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool WaitExit(int timeoutMs);  // true once ended
  int ExitCode() const { return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  void Signal(int signal) {  // to the process only
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
  }

 private:
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// socat joining a shell command to an existing terminal device.
std::vector<std::string> SocatOnDevice(const std::string& devicePath, const std::string& command);
