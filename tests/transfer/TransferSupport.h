#pragma once
// What the transfer tests share: scratch folders and files, waits with a
// deadline, components on a virtual line, and blocks built independently of
// the engine's own check code.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CommCollector.h"
#include "KelComm.h"
#include "VirtualLine.h"

namespace xfertest {

using namespace std::chrono_literals;

// A scratch folder removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string RandomBytes(size_t n, uint32_t seed);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// Polls pred until it holds or the timeout passed.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

// A fresh line name for every call.
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
  StationPair(protType protocol, VirtualLine::Options options = {});
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
  std::string name;
  std::shared_ptr<VirtualLine> line;
  std::unique_ptr<Station> station;
};

uint16_t Crc16Of(const std::string& data);
uint8_t SumOf(const std::string& data);
// A block as it goes on the line: header, number, complement, data, check.
std::string Frame(int number, const std::string& data, bool crc);
std::string Padded(const std::string& data, size_t size, char fill = 0x1A);
std::string CancelSequence();

}  // namespace xfertest
