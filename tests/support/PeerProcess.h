#pragma once
// A peer program (socat running lrzsz, or our command-line tool) in a process
// group of its own, ended with all it started. One owner thread.

#include <sys/types.h>

#include <string>
#include <vector>

class PeerProcess {
 public:
  // Starts argv in dir (empty: here), input from /dev/null, output and
  // errors to outputPath (empty: inherited).
  PeerProcess(const std::vector<std::string>& argv, const std::string& dir,
              const std::string& outputPath = std::string());
  // Ends the whole group (SIGKILL) and reaps the process.
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Waits until the process has ended or timeoutMs passed; true when ended.
  bool WaitExit(int timeoutMs);
  // The exit code, or -1 when it has not exited normally (yet).
  int ExitCode() const;
  void Signal(int signal);  // to the process only

 private:
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// socat joining a shell command to a new pty linked at linkPath; the command
// starts once the slave is opened, so nothing it says early is lost.
std::vector<std::string> SocatOnNewPty(const std::string& linkPath, const std::string& command);
// socat joining a shell command to an existing terminal device.
std::vector<std::string> SocatOnDevice(const std::string& devicePath, const std::string& command);
