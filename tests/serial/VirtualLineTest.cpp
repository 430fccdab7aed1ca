// The virtual line as a cable: pacing, latency, modem lines crossing over,
// and close (its bit errors show in the noisy-line transfer tests). Devices
// are read as the watcher does: take what is there, else sleep in the wait.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "Stations.h"

namespace {

using Clock = std::chrono::steady_clock;

// A wait that never ends fails the test by its time-out.
std::string ReadFromDevice(SerialDevice& dev, size_t count) {
  const auto deadline = Clock::now() + 5s;
  std::string got;
  for (uint8_t b[4096]; got.size() < count && Clock::now() < deadline;) {
    const long n = dev.ReadSome(b, std::min(sizeof b, count - got.size()));
    if (n < 0) break;
    if (n == 0) dev.WaitEvent(-1, -1, true);  // ends when bytes come or at close
    got.append(reinterpret_cast<char*>(b), static_cast<size_t>(n));
  }
  return got;
}

struct ScopedLine : NamedLine {
  explicit ScopedLine(VirtualLine::Options options = {}) : NamedLine("vl", options) {}
  std::shared_ptr<SerialDevice> Open(int end) {
    return OpenSerialDevice("virtual:" + name + "/" + std::to_string(end));
  }
};

// Bytes take 10 bits of line time each and the latency on top; a reader
// gets them in steps as they come, not all at the end.
TEST(VirtualLine, PacingAndLatencyDelayEveryByte) {
  const struct {
    int speed, latencyMs;
    size_t bytes;
  } rows[] = {{9600, 0, 960}, {115200, 0, 2880}, {0, 150, 1}};
  for (const auto& row : rows) {
    ScopedLine line({.speed = row.speed, .latency = std::chrono::milliseconds(row.latencyMs)});
    auto reader = line.Open(1);
    const std::string data = RandomBytes(row.bytes, 7);
    const auto due =
        Clock::now() +
        std::chrono::milliseconds(row.latencyMs + (row.speed ? row.bytes * 10000 / row.speed : 0));
    line.line->end(0).Write(data);
    std::string got = ReadFromDevice(*reader, row.bytes / 2 + 1);
    EXPECT_TRUE(row.bytes == 1 || got.size() < row.bytes) << "all arrived at once";
    got += ReadFromDevice(*reader, row.bytes - got.size());
    EXPECT_GE(Clock::now() + 10ms, due) << row.speed;
    EXPECT_TRUE(got == data) << row.speed;
  }
}

// An output of one end, or a direct setting as a modem makes, shows at the
// other end only; a close drops the outputs but not the RING.
TEST(VirtualLine, ModemLinesCrossOverAndDropAtClose) {
  using End = VirtualLine::End;
  const struct {
    void (SerialDevice::*output)(bool);
    void (End::*direct)(bool);
    uint32_t farSees;
  } rows[] = {{&SerialDevice::SetRts, nullptr, MS_CTS_ON},
              {&SerialDevice::SetDtr, nullptr, MS_DSR_ON | MS_RLSD_ON},
              {nullptr, &End::SetFarCts, MS_CTS_ON},
              {nullptr, &End::SetFarDsr, MS_DSR_ON},
              {nullptr, &End::SetFarRlsd, MS_RLSD_ON},
              {nullptr, &End::SetFarRing, MS_RING_ON}};
  for (const auto& row : rows) {
    ScopedLine line;
    auto near = line.Open(0), far = line.Open(1);
    row.output ? ((*near).*row.output)(true) : (line.line->end(0).*row.direct)(true);
    EXPECT_EQ(far->ModemStatus(), row.farSees) << "row " << (&row - rows);
    EXPECT_EQ(near->ModemStatus(), 0u) << "row " << (&row - rows);
    near->Close();
    EXPECT_EQ(far->ModemStatus(), row.farSees & MS_RING_ON) << "row " << (&row - rows);
  }
}

// Nobody reads end 1: the writer fills both queues and sleeps, the reader
// sleeps, until the device closes; what was written still arrives.
TEST(VirtualLine, CloseEndsWaitsInProgressAndTheEndOpensAgain) {
  ScopedLine line({.inputCapacity = 16});
  auto dev = line.Open(0);
  dev->SetupQueues(16, 16);
  auto writer = std::async(std::launch::async, [&] {
    const std::string w(100, 'w');
    size_t done = 0;
    for (long n = 0; n >= 0; done += static_cast<size_t>(std::max(n, 0L)))
      if ((n = dev->WriteSome(reinterpret_cast<const uint8_t*>(&w[done]), 100 - done)) == 0)
        dev->WaitOutputRoom(-1);
    return done;
  });
  auto reader = std::async(std::launch::async, [&] { return ReadFromDevice(*dev, 1); });
  ASSERT_TRUE(WaitFor([&] { return line.line->end(1).Available() == 16; }, 5s));
  ASSERT_TRUE(WaitFor([&] { return line.line->end(0).Pending() == 16; }, 5s));
  dev->Close();
  EXPECT_EQ(writer.get(), 32u);
  EXPECT_EQ(reader.get(), "");
  uint8_t byte;
  EXPECT_EQ(dev->ReadSome(&byte, 1), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(line.line->end(1).ReadFor(32, 5s), std::string(32, 'w'));
  auto again = line.Open(0);
  EXPECT_TRUE(again) << "free again after close";
  EXPECT_FALSE(line.Open(0)) << "but for one device at a time";
  EXPECT_EQ(errno, EBUSY);
}

}  // namespace
