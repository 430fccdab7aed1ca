#pragma once
// Our components on virtual lines: one that collects what reaches its
// window, two joined by a line, or one whose far end the test drives.

#include <chrono>
#include <memory>
#include <string>

#include "CommCollector.h"
#include "Files.h"
#include "KelComm.h"
#include "VirtualLine.h"

// A fresh line name for every call, unique across test processes too.
std::string UniqueLineName(const std::string& stem);

// A component open on one end of a virtual line, with a window handler that
// collects what reaches the window.
struct Station {
  Station(const std::string& devicePath, protType protocol);
  ~Station();
  bool WaitIdle(std::chrono::milliseconds timeout = 30s);
  TKELCOMM comm;
  CommCollector window{comm};
};

// Two components joined by a line: the sender on end 0, the receiver on 1.
struct StationPair {
  explicit StationPair(protType protocol, VirtualLine::Options options = {});
  ~StationPair();
  bool WaitBothIdle(std::chrono::milliseconds timeout);
  std::string name;
  std::shared_ptr<VirtualLine> line;
  std::unique_ptr<Station> sender, receiver;
};

// A line with our component on end 0 and the test driving end 1.
struct ScriptedLine {
  explicit ScriptedLine(protType protocol, VirtualLine::Options options = {});
  ~ScriptedLine();
  // Reads exactly n bytes from our component within the timeout.
  std::string Read(size_t n, std::chrono::milliseconds timeout = 5s);
  // Reads up to and with the next CR; what came when the line went quiet.
  std::string ReadLine();
  void Write(const std::string& bytes) { line->end(1).Write(bytes); }
  TKELCOMM& comm() { return station->comm; }
  std::string name;
  std::shared_ptr<VirtualLine> line;
  std::unique_ptr<Station> station;
};
