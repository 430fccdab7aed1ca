// The demo line's assembly: the virtual line, the far end's port, the host
// and the modem, and the thread that runs them.
#include "DemoLine.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "DemoHost.h"
#include "DemoModem.h"
#include "DemoPort.h"
#include "VirtualLine.h"

namespace {

// The line stays registered exactly as long as the demo that made it.
struct Registration {
  explicit Registration(std::shared_ptr<VirtualLine> l) : line(std::move(l)) {}
  ~Registration() { VirtualLine::Remove(line->name()); }
  std::shared_ptr<VirtualLine> line;
};

// A folder of our own for the sample file and what callers upload.
struct PrivateFolder {
  PrivateFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "keldemo-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
    path = pattern;
  }
  ~PrivateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

VirtualLine::Options Paced(int lineSpeed) {
  VirtualLine::Options options;
  options.speed = lineSpeed;
  return options;
}

}  // namespace

// Members are destroyed bottom-up: the thread has left before the modem and
// host go, the port's transfer worker before the folder it writes in, and
// the line is unregistered last.
struct DemoLine::Impl {
  Impl(const std::string& name, int lineSpeed)
      : registration(VirtualLine::Create(name, Paced(lineSpeed))),
        port(registration.line, lineSpeed),
        host(port, folder.path),
        modem(port, host),
        thread([this] { Run(); }) {}
  ~Impl() {
    port.Stop();
    thread.join();
  }

  void Run() {
    while (!port.Stopping()) {
      port.WaitUntil(modem.NextDeadline(DemoPort::Clock::now()));
      try {
        modem.Step(DemoPort::Clock::now());
      } catch (const std::exception& e) {
        std::fprintf(stderr, "demo line: %s\n", e.what());
      }
    }
  }

  Registration registration;
  PrivateFolder folder;
  DemoPort port;
  DemoHost host;
  DemoModem modem;
  std::thread thread;
};

DemoLine::DemoLine(const std::string& name, int lineSpeed)
    : impl_(std::make_unique<Impl>(name, lineSpeed)) {}

DemoLine::~DemoLine() = default;

// Every byte value, then a fixed pseudo-random tail; the same bytes on every
// call and in every build.
const std::string& DemoSampleFile() {
  static const std::string sample = [] {
    std::string bytes(40000, '\0');
    uint32_t x = 20240401;
    for (size_t i = 0; i < bytes.size(); ++i) {
      x = x * 1103515245u + 12345u;
      bytes[i] = static_cast<char>(i < 256 ? i : (x >> 16) & 0xFF);
    }
    return bytes;
  }();
  return sample;
}
