#include "Peers.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "Stations.h"

::testing::AssertionResult ProgramsInstalled(std::initializer_list<const char*> programs) {
  for (const char* program : programs)
    if (system((std::string("command -v ") + program + " >/dev/null").c_str()) != 0)
      return ::testing::AssertionFailure()
             << program << " is not installed (apt-get install lrzsz socat)";
  return ::testing::AssertionSuccess();
}

// build/app beside build/tests.
std::string XferTool() {
  char self[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string exe(self, n > 0 ? static_cast<size_t>(n) : 0);
  return exe.substr(0, exe.rfind('/')) + "/../app/kelterm-xfer";
}

// socat starts the command once the pty's slave is opened, so nothing the
// peer says early is lost.
LrzszPeer::LrzszPeer(const TempDir& dir, const std::string& command)
    : device_(dir / "tty"),
      log_(dir / "peer.log"),
      socatLog_(dir / "socat.log"),
      status_(dir / "peer.status") {
  const std::string shell = command + " 2>" + log_ + "; echo $? >" + status_;
  process_ = std::make_unique<PeerProcess>(
      std::vector<std::string>{"socat", "PTY,raw,echo=0,wait-slave,link=" + device_,
                               "SYSTEM:" + shell},
      dir.path(), socatLog_);
}

int LrzszPeer::ExitCode() const {
  const std::string text = ReadFile(status_);
  return text.empty() ? -1 : std::atoi(text.c_str());
}

bool LrzszPeer::Ready(int timeoutMs) const {
  return process_->started() &&
         WaitFor([&] { return FileExists(device_); }, std::chrono::milliseconds(timeoutMs));
}

std::unique_ptr<TKELCOMM> OpenOurSide(const std::string& device, protType protocol, int speed) {
  auto comm = std::make_unique<TKELCOMM>();
  comm->SetDevicePath(device);
  comm->SetBaudRate(speed);
  comm->Protocol = protocol;
  comm->Open();
  return comm;
}

bool WaitTransferEnd(TKELCOMM& comm, int timeoutMs) {
  return WaitFor([&] { return comm.TranMode.load() == 0; }, std::chrono::milliseconds(timeoutMs));
}

// At most this much in flight on the line before the peer's writes wait in
// its pty, as a paced UART holds them in its driver.
constexpr size_t kInFlight = 256;

PtyBridge::PtyBridge(const std::string& ptyPath, VirtualLine::Options options)
    : name_(UniqueLineName("bridge")), line_(VirtualLine::Create(name_, options)) {
  line_->end(1).SetRts(true);
  line_->end(1).SetDtr(true);
  fd_ = open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  termios raw{};
  tcgetattr(fd_, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd_, TCSANOW, &raw);
  in_ = std::thread([this] { PeerToLine(); });
  out_ = std::thread([this] { LineToPeer(); });
}

PtyBridge::~PtyBridge() {
  stop_ = true;
  if (in_.joinable()) in_.join();
  if (out_.joinable()) out_.join();
  if (fd_ >= 0) close(fd_);
  VirtualLine::Remove(name_);
}

void PtyBridge::PeerToLine() {
  char buffer[kInFlight];
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (line_->end(1).Pending() >= kInFlight || poll(&p, 1, 5) == 0) {
      std::this_thread::sleep_for(1ms);
      continue;
    }
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      line_->end(1).Write(std::string_view(buffer, static_cast<size_t>(n)));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      line_->end(1).SetDtr(false);  // the peer hung up
      return;
    }
  }
}

void PtyBridge::LineToPeer() {
  while (!stop_) {
    std::string bytes = line_->end(1).ReadFor(1, 5ms);
    bytes += line_->end(1).Read();
    for (size_t at = 0; at < bytes.size() && !stop_;) {
      const ssize_t n = write(fd_, bytes.data() + at, bytes.size() - at);
      if (n > 0) {
        at += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return;
      } else {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 5);
      }
    }
  }
}
