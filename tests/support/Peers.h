#pragma once
// Tests against other programs: lrzsz behind socat on a pty of its own
// (lrzsz flushes its terminal at its exit, which could drop its last bytes;
// behind socat they are already in socat's hands), our command-line tool,
// and our side of such a line.

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

#include "Files.h"
#include "KelComm.h"
#include "PeerProcess.h"
#include "VirtualLine.h"

// Fails the calling test (not a skip) when a program is not on the PATH.
::testing::AssertionResult ProgramsInstalled(std::initializer_list<const char*> programs);

// The command-line transfer tool, built beside the test programs.
std::string XferTool();

// A shell command run in dir behind socat on a new pty at dir/"tty"; its
// errors go to dir/"peer.log".
class LrzszPeer {
 public:
  LrzszPeer(const TempDir& dir, const std::string& command);
  const std::string& device() const { return device_; }
  bool Ready(int timeoutMs = 5000) const;  // once socat has linked the pty
  bool WaitExit(int timeoutMs) { return process_->WaitExit(timeoutMs); }
  // The command's own exit code (-1 before its end); socat fails when our
  // last byte comes after lrzsz has finished, no fault of either side.
  int ExitCode() const;
  std::string Log() const { return ReadFile(log_) + "\n--- socat:\n" + ReadFile(socatLog_); }

 private:
  std::string device_, log_, socatLog_, status_;
  std::unique_ptr<PeerProcess> process_;
};

// Joins a peer's pty to end 1 of a virtual line of its own, so that our
// component on end 0 meets the peer through the line's pacing, latency and
// bit errors. The peer's hang-up drops our carrier, as a modem's would.
class PtyBridge {
 public:
  PtyBridge(const std::string& ptyPath, VirtualLine::Options options);
  ~PtyBridge();
  PtyBridge(const PtyBridge&) = delete;
  PtyBridge& operator=(const PtyBridge&) = delete;
  bool ok() const { return fd_ >= 0; }
  std::string OurDevice() const { return "virtual:" + name_; }

 private:
  void PeerToLine();
  void LineToPeer();

  std::string name_;
  std::shared_ptr<VirtualLine> line_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread in_, out_;
};

// Our side of the line: a TKELCOMM on device with protocol, opened.
std::unique_ptr<TKELCOMM> OpenOurSide(const std::string& device, protType protocol,
                                      int speed = 115200);
// Waits until the running transfer has ended; false after timeoutMs.
bool WaitTransferEnd(TKELCOMM& comm, int timeoutMs);
