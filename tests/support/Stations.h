#pragma once
// Our components on virtual lines: one that collects what reaches its
// window, two joined by a line, or one whose far end the test drives.

#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>

#include "CommCollector.h"
#include "Files.h"
#include "KelComm.h"
#include "VirtualLine.h"

// A fresh line name for every call, unique across test processes too.
inline std::string UniqueLineName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return "test-" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

// A line under a fresh name, unregistered at the end.
struct NamedLine {
  NamedLine(const std::string& stem, VirtualLine::Options options)
      : name(UniqueLineName(stem)), line(VirtualLine::Create(name, options)) {}
  ~NamedLine() { VirtualLine::Remove(name); }
  std::string name;
  std::shared_ptr<VirtualLine> line;
};

// A component open on a line's end, collecting what reaches its window.
struct Station {
  Station(const std::string& devicePath, protType protocol) {
    comm.SetDevicePath(devicePath);
    comm.Protocol = protocol;
    comm.Open();
  }
  ~Station() {
    comm.RequestCancel();
    WaitIdle(10s);
    comm.Close();
  }
  bool WaitIdle(std::chrono::milliseconds timeout = 30s) {
    return WaitFor([&] { return comm.TranMode.load() == 0; }, timeout);
  }
  TKELCOMM comm;
  CommCollector window{comm};
};

// Two components joined by a line: the sender on end 0, the receiver on 1.
struct StationPair : NamedLine {
  explicit StationPair(protType protocol, VirtualLine::Options options = {})
      : NamedLine("pair", options),
        sender(std::make_unique<Station>("virtual:" + name, protocol)),
        receiver(std::make_unique<Station>("virtual:" + name + "/1", protocol)) {}
  ~StationPair() { sender.reset(); }  // the sender cancels first
  bool WaitBothIdle(std::chrono::milliseconds timeout) {
    return WaitFor([&] { return sender->WaitIdle(0ms) && receiver->WaitIdle(0ms); }, timeout);
  }
  std::unique_ptr<Station> sender, receiver;
};

// A line with our component on end 0 and the test driving end 1, which
// gives our side CTS and carrier from the start.
struct ScriptedLine : NamedLine {
  explicit ScriptedLine(protType protocol, VirtualLine::Options options = {})
      : NamedLine("script", options) {
    line->end(1).SetRts(true);
    line->end(1).SetDtr(true);
    station = std::make_unique<Station>("virtual:" + name, protocol);
  }
  // Up to n bytes from our component, fewer when the timeout passed.
  std::string Read(size_t n, std::chrono::milliseconds timeout = 5s) {
    return line->end(1).ReadFor(n, timeout);
  }
  void Write(const std::string& bytes) { line->end(1).Write(bytes); }
  TKELCOMM& comm() { return station->comm; }
  std::unique_ptr<Station> station;
};
