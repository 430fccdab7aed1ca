#pragma once
// What the tests against other programs share: lrzsz (or any shell command)
// started under socat on a pty of its own, our command-line tool, and our
// side of such a line.
//
// lrzsz runs behind socat rather than on the pty itself: at its exit lrzsz
// flushes its terminal, which could drop its own last bytes; behind socat
// they are already in socat's hands.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "Files.h"
#include "KelComm.h"
#include "PeerProcess.h"

// Fails the calling test (not a skip) when a program is not on the PATH.
::testing::AssertionResult ProgramsInstalled(std::initializer_list<const char*> programs);

// The command-line transfer tool, built beside the test programs.
std::string XferTool();

// A shell command behind socat on a new pty linked at dir/"tty", or on an
// existing terminal device. The command runs in dir once the pty's slave has
// been opened; its standard error goes to dir/"peer.log".
class LrzszPeer {
 public:
  LrzszPeer(const TempDir& dir, const std::string& command);
  LrzszPeer(const TempDir& dir, const std::string& command, const std::string& device);
  const std::string& device() const { return device_; }
  // True once socat has made the pty (the link exists).
  bool Ready(int timeoutMs = 5000) const;
  bool WaitExit(int timeoutMs) { return process_->WaitExit(timeoutMs); }
  // The command's own exit code (-1 before it has ended). socat's may
  // differ: it fails when our last byte arrives after lrzsz has finished,
  // which is no fault of either side.
  int ExitCode() const;
  // What the peer and socat said, for failure messages.
  std::string Log() const { return ReadFile(log_) + "\n--- socat:\n" + ReadFile(socatLog_); }
  PeerProcess& process() { return *process_; }

 private:
  LrzszPeer(const TempDir& dir, const std::string& command, const std::string& device, bool newPty);

  std::string device_;
  std::string log_;
  std::string socatLog_;
  std::string status_;
  std::unique_ptr<PeerProcess> process_;
};

// Our side of the line: a TKELCOMM on device with protocol, opened.
std::unique_ptr<TKELCOMM> OpenOurSide(const std::string& device, protType protocol,
                                      int speed = 115200);
// Waits until the running transfer has ended; false after timeoutMs.
bool WaitTransferEnd(TKELCOMM& comm, int timeoutMs);
