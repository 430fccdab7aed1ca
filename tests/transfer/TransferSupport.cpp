#include "TransferSupport.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace xfertest {

ScratchDir::ScratchDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "kelxfer-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp");
  path_ = templ;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

std::string UniqueLineName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return "xfer-" + stem + "-" + std::to_string(++counter);
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
  std::string line;
  while (line.empty() || line.back() != '\r') {
    const std::string b = Read(1);
    if (b.empty()) break;
    line += b;
  }
  return line;
}

uint16_t Crc16Of(const std::string& data) {
  uint16_t crc = 0;
  for (unsigned char c : data) {
    crc ^= static_cast<uint16_t>(c << 8);
    for (int i = 0; i < 8; ++i)
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

uint8_t SumOf(const std::string& data) {
  unsigned sum = 0;
  for (unsigned char c : data) sum += c;
  return static_cast<uint8_t>(sum);
}

std::string Frame(int number, const std::string& data, bool crc) {
  std::string f;
  f += data.size() == 1024 ? '\x02' : '\x01';
  f += static_cast<char>(number & 0xFF);
  f += static_cast<char>(255 - (number & 0xFF));
  f += data;
  if (crc) {
    const uint16_t c = Crc16Of(data);
    f += static_cast<char>(c >> 8);
    f += static_cast<char>(c & 0xFF);
  } else {
    f += static_cast<char>(SumOf(data));
  }
  return f;
}

std::string Padded(const std::string& data, size_t size, char fill) {
  std::string s = data;
  s.resize(size, fill);
  return s;
}

std::string CancelSequence() { return std::string(8, '\x18') + std::string(8, '\x08'); }

}  // namespace xfertest
