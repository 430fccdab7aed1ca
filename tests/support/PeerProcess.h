#pragma once
// A peer program (socat running lrzsz, or our own command-line tool) started
// in a process group of its own, so that it and everything it started can
// be ended together. Waits are on a pidfd with a deadline, never a sleep.
//
// Not thread-safe: one owner thread.

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

class PeerProcess {
 public:
  // Starts argv in dir (empty: the current folder) with standard input from
  // /dev/null; standard output and error go to outputPath when given, else
  // they are inherited.
  PeerProcess(const std::vector<std::string>& argv, const std::string& dir,
              const std::string& outputPath = std::string());
  // Ends the whole group (SIGKILL) and reaps the process.
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Waits until the process has ended or timeoutMs passed; true when ended.
  bool WaitExit(int timeoutMs);
  bool Exited() const { return reaped_; }
  // The exit code, or -1 when it has not exited normally (yet).
  int ExitCode() const;
  // Processor time of the process and the children it waited for, in
  // seconds; known once it has ended.
  double CpuSeconds() const;

  void Signal(int signal);  // to the process only
  void KillGroup();

 private:
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  rusage usage_{};
};

// Waits until path exists (created by another process) or timeoutMs passed.
bool WaitForPath(const std::string& path, int timeoutMs);

// argv for socat joining a new pty (its slave linked at linkPath) to a shell
// command; socat starts the command only once someone has opened the slave,
// so nothing the command says early is lost.
std::vector<std::string> SocatOnNewPty(const std::string& linkPath, const std::string& command);
// argv for socat joining an existing terminal device to a shell command.
std::vector<std::string> SocatOnDevice(const std::string& devicePath, const std::string& command);
