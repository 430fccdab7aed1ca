#include "Peers.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>

::testing::AssertionResult ProgramsInstalled(std::initializer_list<const char*> programs) {
  const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  for (const char* program : programs) {
    bool found = false;
    std::istringstream dirs(path);
    for (std::string dir; !found && std::getline(dirs, dir, ':');)
      found = access((dir + "/" + program).c_str(), X_OK) == 0;
    if (!found)
      return ::testing::AssertionFailure()
             << program << " is not installed (apt-get install lrzsz socat)";
  }
  return ::testing::AssertionSuccess();
}

// build/app beside build/tests.
std::string XferTool() {
  char self[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir(self, n > 0 ? static_cast<size_t>(n) : 0);
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../app/kelterm-xfer";
}

LrzszPeer::LrzszPeer(const TempDir& dir, const std::string& command)
    : LrzszPeer(dir, command, dir / "tty", true) {}

LrzszPeer::LrzszPeer(const TempDir& dir, const std::string& command, const std::string& device)
    : LrzszPeer(dir, command, device, false) {}

LrzszPeer::LrzszPeer(const TempDir& dir, const std::string& command, const std::string& device,
                     bool newPty)
    : device_(device),
      log_(dir / "peer.log"),
      socatLog_(dir / "socat.log"),
      status_(dir / "peer.status") {
  const std::string shell = command + " 2>" + log_ + "; echo $? >" + status_;
  process_ = std::make_unique<PeerProcess>(
      newPty ? SocatOnNewPty(device_, shell) : SocatOnDevice(device_, shell), dir.path(),
      socatLog_);
}

int LrzszPeer::ExitCode() const {
  const std::string text = ReadFile(status_);
  return text.empty() ? -1 : std::atoi(text.c_str());
}

bool LrzszPeer::Ready(int timeoutMs) const {
  return process_->started() && WaitForPath(device_, timeoutMs);
}

std::unique_ptr<TKELCOMM> OpenOurSide(const std::string& device, protType protocol, int speed) {
  auto comm = std::make_unique<TKELCOMM>();
  comm->SetDevicePath(device);
  comm->SetBaudRate(speed);
  comm->Protocol = protocol;
  comm->Open();
  return comm;
}

// The component offers no signal for the end of a transfer.
bool WaitTransferEnd(TKELCOMM& comm, int timeoutMs) {
  return WaitFor([&] { return comm.TranMode.load() == 0; }, std::chrono::milliseconds(timeoutMs));
}
