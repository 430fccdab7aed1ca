// What an open port costs while nothing happens on it: opens each device
// with a receive handler installed, as the window does, leaves it idle and
// prints the process's CPU time against the wall clock. Pass the seconds
// and device paths; "pty" opens the slave side of a fresh pseudo-terminal.
// Without arguments: 30 s on /dev/ttyS0 and on a pty.

#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "Comm.h"

namespace {

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Pty {
  int master = -1;
  std::string slave;
};

Pty OpenPty() {
  Pty pty;
  int slave = -1;
  char name[128] = {};
  if (openpty(&pty.master, &slave, name, nullptr, nullptr) != 0) return pty;
  close(slave);
  pty.slave = name;
  return pty;
}

// Runs one idle period; false when the device can't be opened.
bool MeasureIdle(const std::string& label, const std::string& path, int seconds) {
  TComm comm;
  comm.SetDevicePath(path);
  comm.OnCommReceive = [](TComm* sender, uint16_t size) {
    std::vector<uint8_t> bytes(size);
    sender->Read(bytes.data(), size);
  };
  try {
    comm.Open();
  } catch (const std::exception& e) {
    std::printf("| %-12s | %-40s |\n", label.c_str(), e.what());
    return false;
  }
  const double cpuBefore = ProcessCpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  comm.Close();
  std::printf("| %-12s | %6.1f | %10.2f | %9.4f %% |\n", label.c_str(), wall, cpu * 1000,
              100.0 * cpu / wall);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  std::vector<std::string> paths;
  for (int i = 2; i < argc; ++i) paths.emplace_back(argv[i]);
  if (paths.empty()) paths = {"/dev/ttyS0", "pty"};
  std::printf("| device       | wall s | CPU ms     | of a core   |\n");
  std::printf("|--------------|--------|------------|-------------|\n");
  for (const std::string& path : paths) {
    if (path != "pty") {
      MeasureIdle(path, path, seconds);
      continue;
    }
    Pty pty = OpenPty();
    MeasureIdle("pty", pty.slave, seconds);
    close(pty.master);
  }
  return 0;
}
