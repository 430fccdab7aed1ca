#include "Files.h"
#include "VirtualLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// A line registered under a name of its own for the length of one test.
struct ScopedLine {
  explicit ScopedLine(VirtualLine::Options options = {}) {
    static std::atomic<int> serial{0};
    name = "vl-test-" + std::to_string(serial++);
    line = VirtualLine::Create(name, options);
  }
  ~ScopedLine() { VirtualLine::Remove(name); }
  VirtualLine::End& end(int i) { return line->end(i); }
  std::shared_ptr<SerialDevice> Open(const std::string& suffix = "") {
    return OpenSerialDevice("virtual:" + name + suffix);
  }
  std::string name;
  std::shared_ptr<VirtualLine> line;
};

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Reads count bytes the way the watcher does: read what is there, otherwise
// sleep in WaitEvent. Counts the reads that returned bytes and the waits.
std::string ReadFromDevice(SerialDevice& dev, size_t count, std::chrono::milliseconds patience = 5s,
                           int* chunks = nullptr, int* waits = nullptr) {
  const auto deadline = Clock::now() + patience;
  std::string got;
  uint8_t buffer[4096];
  while (got.size() < count && Clock::now() < deadline) {
    long n = dev.ReadSome(buffer, std::min(sizeof buffer, count - got.size()));
    if (n < 0) break;
    if (n > 0) {
      got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
      if (chunks) ++*chunks;
    } else {
      dev.WaitEvent(-1, MsLeft(deadline), true);
      if (waits) ++*waits;
    }
  }
  return got;
}

// Writes all bytes, waiting for room when the output queue is full.
size_t WriteToDevice(SerialDevice& dev, std::string_view bytes,
                     std::chrono::milliseconds patience = 5s) {
  const auto deadline = Clock::now() + patience;
  size_t done = 0;
  while (done < bytes.size() && Clock::now() < deadline) {
    long n =
        dev.WriteSome(reinterpret_cast<const uint8_t*>(bytes.data()) + done, bytes.size() - done);
    if (n < 0) break;
    if (n == 0) dev.WaitOutputRoom(MsLeft(deadline));
    done += static_cast<size_t>(n);
  }
  return done;
}

// Compares long byte strings without printing them whole.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << "; first difference at offset " << (g - got.begin());
}

std::string SendThrough(VirtualLine& line, const std::string& data) {
  line.end(0).Write(data);
  return line.end(1).ReadFor(data.size(), 10s);
}

TEST(VirtualLine, EveryByteValueCrossesBothWaysBetweenDevicesAndEnds) {
  ScopedLine line;
  auto dev0 = line.Open("/0");
  auto dev1 = line.Open("/1");
  ASSERT_TRUE(dev0 && dev1);
  std::string bytes(256, '\0');
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  ASSERT_EQ(WriteToDevice(*dev0, bytes), 256u);
  EXPECT_TRUE(SameBytes(ReadFromDevice(*dev1, 256), bytes));
  ASSERT_EQ(WriteToDevice(*dev1, bytes), 256u);
  EXPECT_TRUE(SameBytes(line.end(0).ReadFor(256, 5s), bytes));
  line.end(1).Write(bytes);
  EXPECT_TRUE(SameBytes(ReadFromDevice(*dev0, 256), bytes));
}

TEST(VirtualLine, PacedBytesTakeTheirLineTimeAndArriveInSteps) {
  for (auto [speed, bytes] : {std::pair{9600, 960}, std::pair{115200, 2880}}) {
    SCOPED_TRACE(speed);
    VirtualLine::Options options;
    options.speed = speed;
    ScopedLine line(options);
    auto reader = line.Open("/1");
    ASSERT_TRUE(reader);
    const std::string data = RandomBytes(bytes, 7);
    const double expected = bytes * 10.0 / speed;
    const auto start = Clock::now();
    line.end(0).Write(data);
    EXPECT_GT(line.end(0).Pending(), static_cast<size_t>(bytes / 2));
    int chunks = 0, waits = 0;
    EXPECT_TRUE(SameBytes(ReadFromDevice(*reader, bytes, 5s, &chunks, &waits), data));
    const double took = Seconds(Clock::now() - start).count();
    EXPECT_GE(took, 0.9 * expected);
    EXPECT_LT(took, expected + 2.0);
    EXPECT_GT(chunks, 1) << "all bytes arrived at once";
    // The reader is woken about once a millisecond, not once per byte.
    EXPECT_LE(waits, static_cast<int>(2000 * took) + 20);
  }
}

TEST(VirtualLine, AByteArrivesNoEarlierThanTheLatency) {
  constexpr auto kLatency = 150ms;
  VirtualLine::Options options;
  options.latency = kLatency;
  ScopedLine line(options);
  auto dev = line.Open("/1");
  const auto start = Clock::now();
  line.end(0).Write("L");
  const size_t early = line.end(1).Available();
  if (Clock::now() - start < kLatency) {
    EXPECT_EQ(early, 0u) << "arrived before the latency";
  }
  EXPECT_EQ(ReadFromDevice(*dev, 1), "L");
  const auto took = Clock::now() - start;
  EXPECT_GE(took, kLatency);
  EXPECT_LT(took, 2s) << "the wait was not cut short for the due byte";
}

TEST(VirtualLine, BitErrorsFlipAboutTheRateFromTheSeed) {
  VirtualLine::Options options;
  options.bitErrorRate = 1e-3;
  options.seed = 42;
  const std::string data = RandomBytes(100'000, 3);
  ScopedLine first(options), second(options);
  const std::string a = SendThrough(*first.line, data);
  ASSERT_EQ(a.size(), data.size());
  size_t flipped = 0;
  for (size_t i = 0; i < a.size(); ++i)
    flipped += std::popcount(static_cast<unsigned>(static_cast<uint8_t>(a[i] ^ data[i])));
  // 800 000 bits at 1e-3: 800 expected, standard deviation about 28.
  EXPECT_GT(flipped, 650u);
  EXPECT_LT(flipped, 950u);
  EXPECT_TRUE(SameBytes(SendThrough(*second.line, data), a)) << "same seed, same errors";
  second.line->SetOptions(options);  // reseeds
  EXPECT_TRUE(SameBytes(SendThrough(*second.line, data), a));
  options.seed = 6;
  second.line->SetOptions(options);
  EXPECT_FALSE(SameBytes(SendThrough(*second.line, data), a));

  options.bitErrorRate = 1;
  ScopedLine always(options);
  const std::string got = SendThrough(*always.line, std::string(4, '\x0F'));
  EXPECT_EQ(got, std::string(4, '\xF0')) << "rate 1 flips every data bit";
}

TEST(VirtualLine, AFullReceiverHoldsBytesInTheWritersQueue) {
  ScopedLine line;
  auto dev = line.Open("/1");
  ASSERT_TRUE(dev);
  dev->SetupQueues(50, 4096);
  const std::string data = RandomBytes(500, 2);
  line.end(0).Write(data);
  EXPECT_EQ(dev->InQueue(), 50u);
  EXPECT_EQ(line.end(0).Pending(), 450u);
  EXPECT_TRUE(SameBytes(ReadFromDevice(*dev, 500), data));
}

TEST(VirtualLine, WriteSomeStopsAtTheOutputQueueSizeUntilTheFarEndReads) {
  VirtualLine::Options options;
  options.inputCapacity = 32;
  ScopedLine line(options);
  auto dev = line.Open();
  ASSERT_TRUE(dev);
  dev->SetupQueues(4096, 64);
  const std::string data = RandomBytes(200, 4);
  auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  EXPECT_EQ(dev->WriteSome(bytes, 200), 64);  // 32 go on to the far end
  EXPECT_EQ(dev->OutQueue(), 32u);
  EXPECT_EQ(dev->WriteSome(bytes + 64, 136), 32);
  EXPECT_EQ(dev->WriteSome(bytes + 96, 104), 0);
  auto start = Clock::now();
  dev->WaitOutputRoom(150);  // nobody reads: no room comes
  EXPECT_GE(Clock::now() - start, 150ms);
  std::string got;
  std::thread reader([&] { got = line.end(1).ReadFor(96, 5s); });
  start = Clock::now();
  dev->WaitOutputRoom(5000);
  EXPECT_LT(Clock::now() - start, 2s);
  reader.join();
  EXPECT_TRUE(SameBytes(got, data.substr(0, 96)));
}

// Both ends open as devices, and the bare Ends beside them.
struct ModemRig {
  ModemRig() : dev{line.Open(), line.Open("/1")} {}
  ScopedLine line;
  std::shared_ptr<SerialDevice> dev[2];
};

TEST(VirtualLine, ModemOutputsCrossOverAndDirectSettingsReachTheFarEnd) {
  TDcb handshake;
  handshake.fRtsControl = RTS_CONTROL_HANDSHAKE;
  handshake.fDtrControl = DTR_CONTROL_HANDSHAKE;
  TDcb disabled;
  disabled.fRtsControl = RTS_CONTROL_DISABLE;
  disabled.fDtrControl = DTR_CONTROL_DISABLE;
  struct Row {
    const char* name;
    std::function<void(ModemRig&)> act;
    int observer;
    uint32_t expected;
  };
  const Row rows[] = {
      {"RtsIsFarCts", [](ModemRig& r) { r.dev[0]->SetRts(true); }, 1, MS_CTS_ON},
      {"DtrIsFarDsrAndRlsd", [](ModemRig& r) { r.dev[1]->SetDtr(true); }, 0,
       MS_DSR_ON | MS_RLSD_ON},
      {"DcbEnableRaisesBoth", [](ModemRig& r) { r.dev[1]->ApplyDcb(TDcb{}); }, 0,
       MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON},
      {"DcbHandshakeRaisesBoth", [&](ModemRig& r) { r.dev[0]->ApplyDcb(handshake); }, 1,
       MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON},
      {"DcbDisableDropsBoth",
       [&](ModemRig& r) {
         r.dev[0]->ApplyDcb(TDcb{});
         r.dev[0]->ApplyDcb(disabled);
       },
       1, 0},
      {"FarCts", [](ModemRig& r) { r.line.end(0).SetFarCts(true); }, 1, MS_CTS_ON},
      {"FarDsr", [](ModemRig& r) { r.line.end(0).SetFarDsr(true); }, 1, MS_DSR_ON},
      {"FarRlsd", [](ModemRig& r) { r.line.end(1).SetFarRlsd(true); }, 0, MS_RLSD_ON},
      {"FarRing", [](ModemRig& r) { r.line.end(0).SetFarRing(true); }, 1, MS_RING_ON},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ModemRig rig;
    ASSERT_TRUE(rig.dev[0] && rig.dev[1]);
    EXPECT_EQ(rig.dev[row.observer]->ModemStatus(), 0u);
    row.act(rig);
    EXPECT_EQ(rig.dev[row.observer]->ModemStatus(), row.expected);
    EXPECT_EQ(rig.line.end(row.observer).ModemStatus(), row.expected);
    EXPECT_EQ(rig.dev[1 - row.observer]->ModemStatus(), 0u) << "the driving end sees nothing";
  }
}

TEST(VirtualLine, ADirectSettingStaysUntilTheDrivingOutputChanges) {
  ModemRig rig;
  rig.dev[0]->SetDtr(true);
  rig.line.end(0).SetFarRlsd(false);  // a modem that has lost the carrier
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_DSR_ON);
  rig.dev[0]->SetDtr(true);  // no change: the carrier stays lost
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_DSR_ON);
  rig.dev[0]->SetDtr(false);
  rig.dev[0]->SetDtr(true);
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_DSR_ON | MS_RLSD_ON);
}

TEST(VirtualLine, ClosingADeviceDropsItsLinesAtTheFarEnd) {
  ModemRig rig;
  ASSERT_TRUE(rig.dev[0]->ApplyDcb(TDcb{}));
  rig.line.end(0).SetFarRing(true);
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON);
  rig.dev[0]->Close();
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_RING_ON) << "RING is only ever set directly";
  EXPECT_FALSE(rig.line.end(0).IsOpen());
}

TEST(VirtualLine, WaitEventKeepsItsTimeoutUnlessInputIsWanted) {
  ModemRig rig;
  rig.line.end(0).Write("q");           // input waiting at end 1
  rig.dev[1]->WaitEvent(-1, 0, false);  // takes in the arrival's wake-up
  auto start = Clock::now();
  rig.dev[1]->WaitEvent(-1, 200, false);
  EXPECT_GE(Clock::now() - start, 200ms) << "input not asked for woke the wait";
  start = Clock::now();
  for (int i = 0; i < 5; ++i) rig.dev[1]->WaitEvent(-1, 5000, true);
  EXPECT_LT(Clock::now() - start, 1s) << "waiting input must wake every wait";
  EXPECT_EQ(rig.dev[1]->InQueue(), 1u);
}

TEST(VirtualLine, AnOpenEndIsBusyAndUnknownNamesAreNotFound) {
  ScopedLine line;
  auto first = line.Open();
  ASSERT_TRUE(first);
  for (const char* suffix : {"", "/0"}) {
    errno = 0;
    EXPECT_FALSE(line.Open(suffix));
    EXPECT_EQ(errno, EBUSY);
  }
  EXPECT_TRUE(line.Open("/1")) << "the other end is free";
  for (const std::string& path :
       {std::string("virtual:no-such-line"), "virtual:" + line.name + "/2"}) {
    errno = 0;
    EXPECT_FALSE(OpenSerialDevice(path)) << path;
    EXPECT_EQ(errno, ENOENT) << path;
  }
  EXPECT_THROW(VirtualLine::Create(line.name), std::invalid_argument);
}

TEST(VirtualLine, AClosedDeviceFailsCleanlyAndTheEndCanBeOpenedAgain) {
  ScopedLine line;
  auto dev = line.Open();
  ASSERT_TRUE(dev);
  line.end(1).Write("pending");
  dev->Close();
  dev->Close();  // twice is harmless
  uint8_t buffer[8] = {};
  errno = 0;
  EXPECT_EQ(dev->ReadSome(buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(dev->WriteSome(buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(dev->ApplyDcb(TDcb{}));
  dev->SetDtr(true);
  EXPECT_FALSE(line.end(0).Dtr());
  const auto start = Clock::now();
  dev->WaitEvent(-1, 5000, true);
  dev->WaitOutputRoom(5000);
  EXPECT_LT(Clock::now() - start, 1s);

  auto again = line.Open();
  ASSERT_TRUE(again);
  EXPECT_EQ(ReadFromDevice(*again, 7), "pending");
  again.reset();  // dropping a device releases its end
  EXPECT_FALSE(line.end(0).IsOpen());
}

TEST(VirtualLine, ADeviceRefusesABlockNoLineCouldRun) {
  ScopedLine line;
  auto dev = line.Open();
  ASSERT_TRUE(dev);
  TDcb good;
  good.BaudRate = 115200;
  good.ByteSize = 7;
  good.Parity = 2;
  ASSERT_TRUE(dev->ApplyDcb(good));
  for (auto spoil : std::initializer_list<std::function<void(TDcb&)>>{
           [](TDcb& d) { d.ByteSize = 9; }, [](TDcb& d) { d.ByteSize = 3; },
           [](TDcb& d) { d.Parity = 5; }, [](TDcb& d) { d.StopBits = 3; },
           [](TDcb& d) { d.fDtrControl = 3; }, [](TDcb& d) { d.fRtsControl = 4; }}) {
    TDcb bad = good;
    spoil(bad);
    errno = 0;
    EXPECT_FALSE(dev->ApplyDcb(bad));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(dev->Dcb(), good);
  }
}

TEST(VirtualLine, BothDirectionsAtOnceThroughSmallQueues) {
  ScopedLine line;
  auto dev0 = line.Open();
  auto dev1 = line.Open("/1");
  ASSERT_TRUE(dev0 && dev1);
  dev0->SetupQueues(300, 128);
  dev1->SetupQueues(200, 100);
  const std::string forth = RandomBytes(100'000, 21);
  const std::string back = RandomBytes(80'000, 22);
  std::string gotForth, gotBack;
  std::thread w0([&] { WriteToDevice(*dev0, forth, 10s); });
  std::thread w1([&] { WriteToDevice(*dev1, back, 10s); });
  std::thread r1([&] { gotForth = ReadFromDevice(*dev1, forth.size(), 10s); });
  gotBack = ReadFromDevice(*dev0, back.size(), 10s);
  w0.join();
  w1.join();
  r1.join();
  EXPECT_TRUE(SameBytes(gotForth, forth));
  EXPECT_TRUE(SameBytes(gotBack, back));
}

TEST(VirtualLine, CloseEndsWaitsInProgressWithoutLosingWrittenBytes) {
  VirtualLine::Options options;
  options.inputCapacity = 16;
  ScopedLine line(options);
  auto dev = line.Open();
  ASSERT_TRUE(dev);
  dev->SetupQueues(16, 16);
  // Nobody reads end 1 and nobody writes to end 0: the writer fills both
  // queues and then both threads sleep until the device is closed.
  std::promise<void> queuesFull;
  auto writer = std::async(std::launch::async, [&] {
    const std::string data(100, 'w');
    size_t done = 0;
    for (;;) {
      long n = dev->WriteSome(reinterpret_cast<const uint8_t*>(data.data()) + done, 100 - done);
      if (n < 0) return done;
      done += static_cast<size_t>(n);
      if (n == 0 && done == 32) queuesFull.set_value();
      if (n == 0) dev->WaitOutputRoom(-1);
    }
  });
  auto reader = std::async(std::launch::async, [&] { return ReadFromDevice(*dev, 1, 30s); });
  ASSERT_EQ(queuesFull.get_future().wait_for(5s), std::future_status::ready);
  dev->Close();
  ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(writer.get(), 32u);  // 16 on their way, 16 queued
  EXPECT_EQ(reader.get(), "");
  EXPECT_EQ(line.end(1).ReadFor(32, 5s), std::string(32, 'w'));
}

}  // namespace
