#pragma once
// What the tests against lrzsz share: a fresh folder per test, files of
// random bytes, lrzsz started under socat on a pty of its own, and waits
// with deadlines for our transfer and for the peer.
//
// lrzsz runs behind socat rather than on the pty itself: at its exit lrzsz
// flushes its terminal, which could drop its own last bytes; behind socat
// they are already in socat's hands.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "KelComm.h"
#include "PeerProcess.h"

// A folder made with mkdtemp, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string RandomBytes(size_t count, uint32_t seed);
bool WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// What an XMODEM receiver keeps: the bytes, then SUB up to a multiple of unit.
std::string PaddedTo(const std::string& bytes, size_t unit);

// Fails the calling test (not a skip) when a program is not on the PATH.
::testing::AssertionResult ProgramsInstalled(std::initializer_list<const char*> programs);

// lrzsz (or any shell command) behind socat on a new pty linked at
// dir/"tty". The command runs in dir once the pty's slave has been opened;
// its standard error goes to dir/"peer.log".
class LrzszPeer {
 public:
  LrzszPeer(const TempDir& dir, const std::string& command);
  // The same on an existing terminal device (one end of a relay).
  LrzszPeer(const TempDir& dir, const std::string& command, const std::string& device);
  const std::string& device() const { return device_; }
  // True once socat has made the pty (the link exists).
  bool Ready(int timeoutMs = 5000) const;
  bool WaitExit(int timeoutMs) { return process_->WaitExit(timeoutMs); }
  // lrzsz's own exit code (-1 before it has ended). socat's may differ: it
  // fails when our last byte arrives after lrzsz has finished, which is no
  // fault of either side.
  int ExitCode() const;
  // What the peer and socat said, for failure messages.
  std::string Log() const { return ReadFile(log_) + "\n--- socat:\n" + ReadFile(socatLog_); }

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
