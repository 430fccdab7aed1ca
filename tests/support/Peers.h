#pragma once
// Tests against other programs: lrzsz behind socat on a pty of its own (lrzsz
// flushes its terminal at its exit, which could drop its last bytes; socat
// holds them already), our command-line tool, and our side of such a line.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <thread>

#include "PeerProcess.h"
#include "Stations.h"

// Fails the calling test (not a skip) when a program is not on the PATH.
inline ::testing::AssertionResult ProgramsInstalled(std::initializer_list<const char*> programs) {
  for (const char* program : programs)
    if (system((std::string("command -v ") + program + " >/dev/null").c_str()) != 0)
      return ::testing::AssertionFailure()
             << program << " is not installed (apt-get install lrzsz socat)";
  return ::testing::AssertionSuccess();
}

// The command-line transfer tool: build/app beside build/tests.
inline std::string XferTool() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../app/kelterm-xfer";
}

// A shell command run in dir behind socat on a new pty at dir/"tty", which
// socat starts once the pty is opened, so nothing it says early is lost; its
// errors go to dir/"peer.log".
class LrzszPeer {
 public:
  LrzszPeer(const TempDir& dir, const std::string& command)
      : device_(dir / "tty"),
        log_(dir / "peer.log"),
        socatLog_(dir / "socat.log"),
        status_(dir / "peer.status"),
        process_({"socat", "PTY,raw,echo=0,wait-slave,link=" + device_,
                  "SYSTEM:" + command + " 2>" + log_ + "; echo $? >" + status_},
                 dir.path(), socatLog_) {}
  const std::string& device() const { return device_; }
  bool Ready(int timeoutMs = 5000) const {  // once socat has linked the pty
    return WaitFor([&] { return FileExists(device_); }, std::chrono::milliseconds(timeoutMs));
  }
  bool WaitExit(int timeoutMs) { return process_.WaitExit(timeoutMs); }
  // The command's own exit code (-1 before its end); socat fails when our
  // last byte comes after lrzsz has finished, no fault of either side.
  int ExitCode() const {
    const std::string text = ReadFile(status_);
    return text.empty() ? -1 : std::atoi(text.c_str());
  }
  std::string Log() const { return ReadFile(log_) + "\n--- socat:\n" + ReadFile(socatLog_); }

 private:
  std::string device_, log_, socatLog_, status_;
  PeerProcess process_;
};

// Joins a peer's pty to end 1 of a virtual line of its own, so that our
// component on end 0 meets the peer through the line's pacing, latency and
// bit errors. The peer's hang-up drops our carrier, as a modem's would.
class PtyBridge {
 public:
  PtyBridge(const std::string& ptyPath, VirtualLine::Options options) : line_("bridge", options) {
    line_.line->end(1).SetRts(true);
    line_.line->end(1).SetDtr(true);
    fd_ = open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (tcgetattr(fd_, &raw) != 0) return;
    cfmakeraw(&raw);
    tcsetattr(fd_, TCSANOW, &raw);
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
  }
  ~PtyBridge() {
    thread_ = {};  // stops Run and waits for it
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return thread_.joinable(); }
  std::string OurDevice() const { return "virtual:" + line_.name; }

 private:
  // At most kInFlight bytes on the line before the peer's writes wait in its
  // pty, as a paced UART holds them in its driver.
  void Run(std::stop_token stop) {
    constexpr size_t kInFlight = 256;
    VirtualLine::End& end = line_.line->end(1);
    std::string out;  // from our side, not yet taken by the peer
    char buffer[kInFlight];
    while (!stop.stop_requested()) {
      out += end.Read();
      const bool room = end.Pending() < kInFlight;
      pollfd p{fd_, static_cast<short>((room ? POLLIN : 0) | (out.empty() ? 0 : POLLOUT)), 0};
      if (poll(&p, 1, 1) <= 0) continue;
      if (p.revents & POLLOUT) {
        const ssize_t n = write(fd_, out.data(), out.size());
        out.erase(0, n > 0 ? static_cast<size_t>(n) : 0);
      }
      if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        end.Write(std::string_view(buffer, static_cast<size_t>(n)));
      } else if (n == 0 || errno != EAGAIN) {
        end.SetDtr(false);  // the peer hung up
        return;
      }
    }
  }

  NamedLine line_;
  int fd_ = -1;
  std::jthread thread_;
};

// Our side of the line: a TKELCOMM on device at 115200 bit/s with protocol, opened.
inline std::unique_ptr<TKELCOMM> OpenOurSide(const std::string& device, protType protocol) {
  auto comm = std::make_unique<TKELCOMM>();
  comm->SetDevicePath(device);
  comm->SetBaudRate(115200);
  comm->Protocol = protocol;
  comm->Open();
  return comm;
}

// Waits until the running transfer has ended; false after timeoutMs.
inline bool WaitTransferEnd(TKELCOMM& comm, int timeoutMs) {
  return WaitFor([&] { return comm.TranMode.load() == 0; }, std::chrono::milliseconds(timeoutMs));
}
