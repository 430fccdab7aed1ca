#include "VirtualLine.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

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
#include <vector>

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

struct DeviceReadLog {
  std::vector<size_t> chunks;  // sizes of the reads that returned bytes
  int waits = 0;               // WaitEvent calls
};

// Reads count bytes from a device the way the watcher does: read what is
// there, otherwise sleep in WaitEvent.
std::string ReadFromDevice(SerialDevice& dev, size_t count, DeviceReadLog* log = nullptr,
                           std::chrono::milliseconds patience = 5s) {
  const auto deadline = Clock::now() + patience;
  std::string got;
  uint8_t buffer[4096];
  while (got.size() < count && Clock::now() < deadline) {
    long n = dev.ReadSome(buffer, std::min(sizeof buffer, count - got.size()));
    if (n < 0) break;
    if (n > 0) {
      got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
      if (log) log->chunks.push_back(static_cast<size_t>(n));
    } else {
      dev.WaitEvent(-1, MsLeft(deadline), true);
      if (log) ++log->waits;
    }
  }
  return got;
}

// Writes all bytes, waiting for room when the output queue is full; returns
// how many went in.
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

std::string AllByteValues() {
  std::string s(256, '\0');
  for (int i = 0; i < 256; ++i) s[i] = static_cast<char>(i);
  return s;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Compares long byte strings without printing them whole.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << "; first difference at offset " << (g - got.begin());
}

size_t BitsThatDiffer(const std::string& a, const std::string& b) {
  size_t bits = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    bits += std::popcount(static_cast<unsigned>(static_cast<uint8_t>(a[i] ^ b[i])));
  return bits;
}

// One side of a transfer: a bare End or an end opened as a device.
struct Side {
  std::function<void(std::string_view)> write;
  std::function<std::string(size_t)> read;
};

Side EndSide(VirtualLine::End& end) {
  return {[&end](std::string_view b) { end.Write(b); },
          [&end](size_t n) { return end.ReadFor(n, 5s); }};
}

Side DeviceSide(SerialDevice& dev) {
  return {[&dev](std::string_view b) { ASSERT_EQ(WriteToDevice(dev, b), b.size()); },
          [&dev](size_t n) { return ReadFromDevice(dev, n); }};
}

struct TransparencyCase {
  const char* name;
  const char* openAs0;  // suffix of "virtual:NAME" for end 0, null for a bare End
  const char* openAs1;
};

class VirtualLineTransparency : public ::testing::TestWithParam<TransparencyCase> {};

TEST_P(VirtualLineTransparency, EveryByteValueCrossesBothWaysInOrder) {
  ScopedLine line;
  std::shared_ptr<SerialDevice> dev[2];
  Side side[2];
  const char* suffix[2] = {GetParam().openAs0, GetParam().openAs1};
  for (int i = 0; i < 2; ++i) {
    if (suffix[i]) {
      dev[i] = line.Open(suffix[i]);
      ASSERT_TRUE(dev[i]) << suffix[i];
      side[i] = DeviceSide(*dev[i]);
    } else {
      side[i] = EndSide(line.end(i));
    }
  }
  const std::string bytes = AllByteValues();
  side[0].write(bytes);
  EXPECT_TRUE(SameBytes(side[1].read(256), bytes));
  side[1].write(bytes);
  EXPECT_TRUE(SameBytes(side[0].read(256), bytes));
  EXPECT_EQ(line.end(0).Pending() + line.end(1).Pending(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pairs, VirtualLineTransparency,
                         ::testing::Values(TransparencyCase{"EndToDevice1", nullptr, "/1"},
                                           TransparencyCase{"DeviceToEnd1", "", nullptr},
                                           TransparencyCase{"TwoDevices", "", "/1"},
                                           TransparencyCase{"TwoDevicesExplicitEnd0", "/0", "/1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualLinePacing, BytesTakeTheirLineTimeAndArriveInSteps) {
  struct Row {
    int speed;
    size_t bytes;
  };
  for (Row row : {Row{9600, 960}, Row{115200, 2880}}) {
    SCOPED_TRACE(row.speed);
    VirtualLine::Options options;
    options.speed = row.speed;
    ScopedLine line(options);
    auto reader = line.Open("/1");
    ASSERT_TRUE(reader);
    const std::string data = RandomBytes(row.bytes, 7);
    const double expected = row.bytes * 10.0 / row.speed;

    const auto start = Clock::now();
    line.end(0).Write(data);
    EXPECT_GT(line.end(0).Pending(), row.bytes / 2);
    DeviceReadLog log;
    const std::string got = ReadFromDevice(*reader, row.bytes, &log);
    const double took = Seconds(Clock::now() - start).count();

    EXPECT_TRUE(SameBytes(got, data));
    EXPECT_GE(took, 0.9 * expected);
    EXPECT_LT(took, expected + 2.0);
    EXPECT_GT(log.chunks.size(), 1u) << "all bytes arrived at once";
    // The reader is woken about once a millisecond, not once per byte.
    EXPECT_LE(log.waits, static_cast<int>(2000 * took) + 20) << log.waits << " wake-ups";
  }
}

TEST(VirtualLinePacing, SetOptionsChangesTheSpeedFromNowOn) {
  VirtualLine::Options slow;
  slow.speed = 100;  // 10 bytes a second
  ScopedLine line(slow);
  line.end(0).Write(std::string(50, 'x'));
  EXPECT_LT(line.end(1).Available(), 50u);
  line.line->SetOptions({});
  EXPECT_EQ(line.end(1).ReadFor(50, 2s).size(), 50u);
}

TEST(VirtualLineLatency, AByteArrivesNoEarlierThanTheLatency) {
  constexpr auto kLatency = 150ms;
  VirtualLine::Options options;
  options.latency = kLatency;
  for (bool viaDevice : {false, true}) {
    SCOPED_TRACE(viaDevice ? "device" : "end");
    ScopedLine line(options);
    auto dev = viaDevice ? line.Open("/1") : nullptr;
    const auto start = Clock::now();
    line.end(0).Write("L");
    const size_t early = line.end(1).Available();
    const bool stillEarly = Clock::now() - start < kLatency;
    if (stillEarly) {
      EXPECT_EQ(early, 0u);
    }
    const std::string got = viaDevice ? ReadFromDevice(*dev, 1) : line.end(1).ReadFor(1, 5s);
    const auto took = Clock::now() - start;
    EXPECT_EQ(got, "L");
    EXPECT_GE(took, kLatency);
    // The wait was cut short for the due byte, not left to its 5 s.
    EXPECT_LT(took, 2s);
  }
}

// Sends data from end 0 to end 1 over a line with the given error settings
// and returns what arrived.
std::string SendThrough(VirtualLine& line, const std::string& data) {
  line.end(0).Write(data);
  return line.end(1).ReadFor(data.size(), 10s);
}

TEST(VirtualLineBitErrors, ACleanLineDeliversAMegabyteIntact) {
  ScopedLine line;
  const std::string data = RandomBytes(1 << 20, 11);
  EXPECT_TRUE(SameBytes(SendThrough(*line.line, data), data));
}

TEST(VirtualLineBitErrors, ErrorRateFlipsTheExpectedNumberOfBits) {
  VirtualLine::Options options;
  options.bitErrorRate = 1e-3;
  options.seed = 42;
  ScopedLine line(options);
  const std::string data = RandomBytes(100'000, 3);
  const std::string got = SendThrough(*line.line, data);
  ASSERT_EQ(got.size(), data.size());
  const size_t flipped = BitsThatDiffer(got, data);
  // 800 000 bits at 1e-3: 800 expected, standard deviation about 28.
  EXPECT_GT(flipped, 650u);
  EXPECT_LT(flipped, 950u);
}

TEST(VirtualLineBitErrors, TheSeedDecidesTheCorruption) {
  VirtualLine::Options options;
  options.bitErrorRate = 1e-3;
  options.seed = 5;
  const std::string data = RandomBytes(20'000, 9);

  ScopedLine first(options);
  const std::string a = SendThrough(*first.line, data);
  ScopedLine second(options);
  const std::string b = SendThrough(*second.line, data);
  second.line->SetOptions(options);  // reseeds: the same errors again
  const std::string c = SendThrough(*second.line, data);
  options.seed = 6;
  second.line->SetOptions(options);
  const std::string d = SendThrough(*second.line, data);

  ASSERT_FALSE(SameBytes(a, data));
  EXPECT_TRUE(SameBytes(b, a));
  EXPECT_TRUE(SameBytes(c, a));
  EXPECT_FALSE(SameBytes(d, a));
  EXPECT_GT(BitsThatDiffer(d, data), 0u);
}

TEST(VirtualLineBitErrors, RateOneFlipsEveryDataBit) {
  VirtualLine::Options options;
  options.bitErrorRate = 1;
  ScopedLine line(options);
  const std::string data = AllByteValues();
  const std::string got = SendThrough(*line.line, data);
  ASSERT_EQ(got.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<uint8_t>(got[i]), 255 - i);
}

TEST(VirtualLineBackPressure, AFullReceiverHoldsBytesInTheWritersQueue) {
  VirtualLine::Options options;
  options.inputCapacity = 100;
  ScopedLine line(options);
  const std::string data = RandomBytes(1000, 1);
  line.end(0).Write(data);
  EXPECT_EQ(line.end(1).Available(), 100u);
  EXPECT_EQ(line.end(0).Pending(), 900u);
  EXPECT_TRUE(SameBytes(line.end(1).ReadFor(1000, 5s), data));
  EXPECT_EQ(line.end(0).Pending(), 0u);
}

TEST(VirtualLineBackPressure, SetupQueuesSetsTheReceiversCapacity) {
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

TEST(VirtualLineBackPressure, WriteSomeStopsAtTheOutputQueueSize) {
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
  EXPECT_EQ(dev->OutQueue(), 64u);

  std::string got;
  std::thread reader([&] { got = line.end(1).ReadFor(96, 5s); });
  start = Clock::now();
  dev->WaitOutputRoom(5000);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_LT(dev->OutQueue(), 64u);
  reader.join();
  EXPECT_TRUE(SameBytes(got, data.substr(0, 96)));
}

// Both ends open as devices, and the bare Ends beside them.
struct ModemRig {
  ModemRig() : dev{line.Open(), line.Open("/1")} {}
  ScopedLine line;
  std::shared_ptr<SerialDevice> dev[2];
};

TEST(VirtualLineModem, OutputsCrossOverAndDirectSettingsReachTheFarEnd) {
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
      {"DtrIsFarDsrAndRlsd", [](ModemRig& r) { r.dev[0]->SetDtr(true); }, 1,
       MS_DSR_ON | MS_RLSD_ON},
      {"OtherDirection", [](ModemRig& r) { r.dev[1]->SetRts(true); }, 0, MS_CTS_ON},
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
      {"EndRts", [](ModemRig& r) { r.line.end(0).SetRts(true); }, 1, MS_CTS_ON},
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

TEST(VirtualLineModem, ADirectSettingStaysUntilTheDrivingOutputChanges) {
  ModemRig rig;
  rig.dev[0]->SetDtr(true);
  rig.line.end(0).SetFarRlsd(false);  // a modem that has lost the carrier
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_DSR_ON);
  rig.dev[0]->SetDtr(true);  // no change: the carrier stays lost
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_DSR_ON);
  rig.dev[0]->SetDtr(false);
  rig.dev[0]->SetDtr(true);
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_DSR_ON | MS_RLSD_ON);
  EXPECT_TRUE(rig.line.end(0).Dtr());
  EXPECT_FALSE(rig.line.end(0).Rts());
}

TEST(VirtualLineModem, ClosingADeviceDropsItsLinesAtTheFarEnd) {
  ModemRig rig;
  ASSERT_TRUE(rig.dev[0]->ApplyDcb(TDcb{}));
  rig.line.end(0).SetFarRing(true);
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON);
  EXPECT_TRUE(rig.line.end(0).IsOpen());
  rig.dev[0]->Close();
  EXPECT_EQ(rig.dev[1]->ModemStatus(), MS_RING_ON) << "RING is only ever set directly";
  EXPECT_FALSE(rig.line.end(0).Rts());
  EXPECT_FALSE(rig.line.end(0).Dtr());
  EXPECT_FALSE(rig.line.end(0).IsOpen());
}

TEST(VirtualLineWait, WaitEventWakesForWhatTheWatcherWaitsFor) {
  struct Row {
    const char* name;
    std::function<void(ModemRig&, int wakeFd)> trigger;
    std::function<bool(ModemRig&, int wakeFd)> happened;
  };
  const Row rows[] = {
      {"Arrival", [](ModemRig& r, int) { r.line.end(0).Write("a"); },
       [](ModemRig& r, int) { return r.dev[1]->InQueue() == 1; }},
      {"FarLineChange", [](ModemRig& r, int) { r.dev[0]->SetRts(true); },
       [](ModemRig& r, int) { return r.dev[1]->ModemStatus() == MS_CTS_ON; }},
      {"Ring", [](ModemRig& r, int) { r.line.end(0).SetFarRing(true); },
       [](ModemRig& r, int) { return r.dev[1]->ModemStatus() == MS_RING_ON; }},
      {"WakeFd",
       [](ModemRig&, int fd) {
         const uint64_t one = 1;
         ASSERT_EQ(write(fd, &one, sizeof one), 8);
       },
       [](ModemRig&, int fd) {
         uint64_t n = 0;
         return read(fd, &n, sizeof n) == 8 && n == 1;
       }},
      {"CloseFromAnotherThread", [](ModemRig& r, int) { r.dev[1]->Close(); },
       [](ModemRig& r, int) {
         uint8_t b;
         return r.dev[1]->ReadSome(&b, 1) == -1 && errno == EBADF;
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ModemRig rig;
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(wakeFd, 0);
    rig.dev[1]->WaitEvent(wakeFd, 0, true);  // clears what opening left behind
    const auto start = Clock::now();
    std::thread trigger([&] { row.trigger(rig, wakeFd); });
    rig.dev[1]->WaitEvent(wakeFd, 5000, true);
    const auto took = Clock::now() - start;
    trigger.join();
    EXPECT_LT(took, 2s);
    EXPECT_TRUE(row.happened(rig, wakeFd));
    close(wakeFd);
  }
}

TEST(VirtualLineWait, WaitEventKeepsItsTimeoutWhenNothingHappens) {
  ModemRig rig;
  rig.line.end(0).Write("q");  // input waiting, but not asked for
  ASSERT_EQ(rig.line.end(1).Available(), 1u);
  rig.dev[1]->WaitEvent(-1, 0, false);  // takes in the arrival's wake-up
  for (bool wantInput : {true, false}) {
    SCOPED_TRACE(wantInput);
    const auto start = Clock::now();
    rig.dev[0]->WaitEvent(-1, 200, wantInput);  // end 0 has nothing at all
    rig.dev[1]->WaitEvent(-1, 200, false);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 2s);
  }
}

TEST(VirtualLineWait, WaitEventIsLevelTriggeredForWaitingInput) {
  ModemRig rig;
  rig.line.end(0).Write("z");
  const auto start = Clock::now();
  for (int i = 0; i < 5; ++i) rig.dev[1]->WaitEvent(-1, 5000, true);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(rig.dev[1]->InQueue(), 1u);
}

TEST(VirtualLineErrors, AnOpenEndIsBusyAndUnknownNamesAreNotFound) {
  ScopedLine line;
  auto first = line.Open();
  ASSERT_TRUE(first);
  for (const char* suffix : {"", "/0"}) {
    errno = 0;
    EXPECT_FALSE(line.Open(suffix));
    EXPECT_EQ(errno, EBUSY);
  }
  errno = 0;
  EXPECT_FALSE(line.line->OpenEnd(0));
  EXPECT_EQ(errno, EBUSY);
  EXPECT_TRUE(line.Open("/1")) << "the other end is free";

  for (const std::string& path :
       {std::string("virtual:no-such-line"), "virtual:" + line.name + "/2"}) {
    errno = 0;
    EXPECT_FALSE(OpenSerialDevice(path)) << path;
    EXPECT_EQ(errno, ENOENT) << path;
  }
  EXPECT_THROW(VirtualLine::Create(line.name), std::invalid_argument);
  EXPECT_EQ(VirtualLine::Find(line.name), line.line);
}

TEST(VirtualLineErrors, AClosedDeviceFailsCleanlyAndTheEndCanBeOpenedAgain) {
  ScopedLine line;
  auto dev = line.Open();
  ASSERT_TRUE(dev);
  ASSERT_TRUE(dev->ApplyDcb(TDcb{}));
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
  EXPECT_EQ(dev->InQueue(), 0u);
  EXPECT_EQ(dev->OutQueue(), 0u);
  EXPECT_EQ(dev->ModemStatus(), 0u);
  EXPECT_EQ(dev->ErrorCounts(), LineErrorCounts{});
  EXPECT_FALSE(dev->HungUp());
  dev->SetDtr(true);
  EXPECT_FALSE(line.end(0).Dtr());
  const auto start = Clock::now();
  dev->WaitEvent(-1, 5000, true);
  dev->WaitOutputRoom(5000);
  EXPECT_LT(Clock::now() - start, 1s);

  auto again = line.Open();
  ASSERT_TRUE(again);
  EXPECT_TRUE(line.end(0).IsOpen());
  EXPECT_EQ(ReadFromDevice(*again, 7), "pending");
  EXPECT_EQ(dev->ReadSome(buffer, sizeof buffer), -1) << "the old device stays closed";
}

TEST(VirtualLineErrors, DroppingADeviceReleasesItsEnd) {
  ScopedLine line;
  line.Open().reset();
  EXPECT_FALSE(line.end(0).IsOpen());
  EXPECT_TRUE(line.Open());
}

TEST(VirtualLineErrors, ARemovedLineKeepsWorkingForOpenDevices) {
  ScopedLine line;
  auto dev = line.Open();
  ASSERT_TRUE(dev);
  VirtualLine::Remove(line.name);
  EXPECT_FALSE(VirtualLine::Find(line.name));
  errno = 0;
  EXPECT_FALSE(line.Open("/1"));
  EXPECT_EQ(errno, ENOENT);
  line.end(1).Write("still");
  EXPECT_EQ(ReadFromDevice(*dev, 5), "still");
}

TEST(VirtualLineErrors, ADeviceRefusesABlockNoLineCouldRun) {
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

TEST(VirtualLineThreads, BothDirectionsAtOnceThroughSmallQueues) {
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
  std::thread r1([&] { gotForth = ReadFromDevice(*dev1, forth.size(), nullptr, 10s); });
  gotBack = ReadFromDevice(*dev0, back.size(), nullptr, 10s);
  w0.join();
  w1.join();
  r1.join();
  EXPECT_TRUE(SameBytes(gotForth, forth));
  EXPECT_TRUE(SameBytes(gotBack, back));
}

TEST(VirtualLineThreads, CloseEndsWaitsInProgress) {
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
  auto reader =
      std::async(std::launch::async, [&] { return ReadFromDevice(*dev, 1, nullptr, 30s); });
  ASSERT_EQ(queuesFull.get_future().wait_for(5s), std::future_status::ready);
  dev->Close();
  ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(writer.get(), 32u);  // 16 on their way, 16 queued
  EXPECT_EQ(reader.get(), "");
  EXPECT_EQ(line.end(1).ReadFor(32, 5s), std::string(32, 'w')) << "written bytes are not lost";
}

}  // namespace
