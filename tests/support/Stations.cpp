#include "Stations.h"

#include <unistd.h>

#include <atomic>

std::string UniqueLineName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return "test-" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

Station::Station(const std::string& devicePath, protType protocol) {
  comm.SetDevicePath(devicePath);
  comm.Protocol = protocol;
  comm.Open();
}

Station::~Station() {
  comm.RequestCancel();
  WaitIdle(10s);
  comm.Close();
}

bool Station::WaitIdle(std::chrono::milliseconds timeout) {
  return WaitFor([&] { return comm.TranMode.load() == 0; }, timeout);
}

StationPair::StationPair(protType protocol, VirtualLine::Options options)
    : name(UniqueLineName("pair")), line(VirtualLine::Create(name, options)) {
  sender = std::make_unique<Station>("virtual:" + name, protocol);
  receiver = std::make_unique<Station>("virtual:" + name + "/1", protocol);
}

StationPair::~StationPair() {
  sender.reset();
  receiver.reset();
  VirtualLine::Remove(name);
}

bool StationPair::WaitBothIdle(std::chrono::milliseconds timeout) {
  return WaitFor(
      [&] { return sender->comm.TranMode.load() == 0 && receiver->comm.TranMode.load() == 0; },
      timeout);
}

ScriptedLine::ScriptedLine(protType protocol, VirtualLine::Options options)
    : name(UniqueLineName("script")), line(VirtualLine::Create(name, options)) {
  // Our component's CTS and carrier, there when it opens.
  line->end(1).SetRts(true);
  line->end(1).SetDtr(true);
  station = std::make_unique<Station>("virtual:" + name, protocol);
}

ScriptedLine::~ScriptedLine() {
  station.reset();
  VirtualLine::Remove(name);
}

std::string ScriptedLine::Read(size_t n, std::chrono::milliseconds timeout) {
  return line->end(1).ReadFor(n, timeout);
}

std::string ScriptedLine::ReadLine() {
  std::string text;
  while (text.empty() || text.back() != '\r') {
    const std::string b = Read(1);
    if (b.empty()) break;
    text += b;
  }
  return text;
}
