#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "Interop.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

TempDir::TempDir() {
  char pattern[] = "/tmp/kelterm-interop-XXXXXX";
  if (const char* made = mkdtemp(pattern)) path_ = made;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(count, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string PaddedTo(const std::string& bytes, size_t unit) {
  std::string padded = bytes;
  while (padded.empty() || padded.size() % unit != 0) padded += '\x1A';
  return padded;
}

::testing::AssertionResult ProgramsInstalled(std::initializer_list<const char*> programs) {
  const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  for (const char* program : programs) {
    bool found = false;
    std::istringstream dirs(path);
    for (std::string dir; !found && std::getline(dirs, dir, ':');) {
      found = access((dir + "/" + program).c_str(), X_OK) == 0;
    }
    if (!found) {
      return ::testing::AssertionFailure()
             << program << " is not installed (apt-get install lrzsz socat)";
    }
  }
  return ::testing::AssertionSuccess();
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

bool WaitTransferEnd(TKELCOMM& comm, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (comm.TranMode.load() != 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    // The component offers no signal for the end of a transfer.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
