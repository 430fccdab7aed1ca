// The termios device on a real pseudo-terminal pair. The line's settings are
// read with the kernel's own termios2 record (TCGETS2 on the master reads the
// slave's settings), so this file must not include <termios.h>.
//
// A pty keeps PARODD, CMSPAR, CSTOPB, CRTSCTS, IXON, IXOFF, VSTART, VSTOP and
// the speed, standard or custom; it forces CS8 and clears PARENB whatever is
// asked. The data-bit and parity-enable requests are therefore checked only
// as far as the pty lets them show.

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PosixSerialDevice.h"
#include "PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

int RemainingMs(Clock::time_point deadline) {
  const long left = -MsSince(deadline);
  return left > 0 ? static_cast<int>(left) : 0;
}

// The slave's settings as the kernel holds them.
termios2 LineSettings(int masterFd) {
  termios2 t{};
  EXPECT_EQ(ioctl(masterFd, TCGETS2, &t), 0) << strerror(errno);
  return t;
}

// Reads from the device until count bytes have come or timeoutMs passed.
std::string ReadFromDevice(SerialDevice& dev, size_t count, int timeoutMs = 5000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  uint8_t buffer[4096];
  while (got.size() < count && Clock::now() < deadline) {
    const long n = dev.ReadSome(buffer, std::min(sizeof buffer, count - got.size()));
    if (n < 0) break;
    if (n > 0) {
      got.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    } else {
      dev.WaitEvent(-1, RemainingMs(deadline), true);
    }
  }
  return got;
}

// Writes all bytes to the device, waiting for room; false on error or time-out.
bool WriteToDevice(SerialDevice& dev, std::string_view bytes, int timeoutMs = 5000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!bytes.empty()) {
    const long n = dev.WriteSome(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (n < 0) return false;
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (Clock::now() >= deadline) {
      return false;
    } else {
      dev.WaitOutputRoom(RemainingMs(deadline));
    }
  }
  return true;
}

// Every byte value first, then seeded noise up to size.
std::string Payload(size_t size) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  std::mt19937 random(20240611);
  while (bytes.size() < size) bytes.push_back(static_cast<char>(random() & 0xFF));
  return bytes;
}

// Where two byte strings first differ, so a failure names a position rather
// than printing 64 KiB.
size_t FirstDifference(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return i;
  return a.size() == b.size() ? std::string::npos : n;
}

class PosixDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    device = OpenPosixDevice(pty.slavePath());
    ASSERT_TRUE(device) << strerror(errno);
  }

  PtyPair pty;
  std::shared_ptr<SerialDevice> device;
};

TEST_F(PosixDeviceTest, EveryByteArrivesInOrderBothWays) {
  const std::string payload = Payload(65536);
  std::string got;
  std::thread reader([&] { got = pty.Read(payload.size(), 10000); });
  EXPECT_TRUE(WriteToDevice(*device, payload, 10000));
  reader.join();
  EXPECT_EQ(FirstDifference(got, payload), std::string::npos) << got.size() << " bytes out";
  bool written = false;
  std::thread writer([&] { written = pty.WriteAll(payload, 10000); });
  got = ReadFromDevice(*device, payload.size(), 10000);
  writer.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(FirstDifference(got, payload), std::string::npos) << got.size() << " bytes in";
}

// ---- line settings ----

struct SettingsCase {
  const char* name;
  std::function<void(TDcb&)> change;
  unsigned cflagOn, cflagOff, iflagOn, iflagOff;
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class PosixDeviceSettings : public PosixDeviceTest,
                            public ::testing::WithParamInterface<SettingsCase> {};

// Each row runs from a block with everything on and from one with everything
// off, so a bit that is never set or never cleared shows either way.
TEST_P(PosixDeviceSettings, LineHoldsTheRequestedBits) {
  TDcb allOn;
  allOn.ByteSize = 5;
  allOn.Parity = 3;
  allOn.StopBits = 2;
  allOn.fOutxCtsFlow = allOn.fOutX = allOn.fInX = true;
  for (const TDcb& start : {allOn, TDcb{}}) {
    ASSERT_TRUE(device->ApplyDcb(start));
    TDcb dcb;
    GetParam().change(dcb);
    ASSERT_TRUE(device->ApplyDcb(dcb)) << strerror(errno);
    EXPECT_EQ(device->Dcb(), dcb);
    const termios2 t = LineSettings(pty.master());
    const SettingsCase& row = GetParam();
    EXPECT_EQ(t.c_cflag & row.cflagOn, row.cflagOn) << std::oct << t.c_cflag;
    EXPECT_EQ(t.c_cflag & row.cflagOff, 0u) << std::oct << t.c_cflag;
    EXPECT_EQ(t.c_iflag & row.iflagOn, row.iflagOn) << std::oct << t.c_iflag;
    EXPECT_EQ(t.c_iflag & row.iflagOff, 0u) << std::oct << t.c_iflag;
    EXPECT_EQ(t.c_cc[VSTART], dcb.XonChar);
    EXPECT_EQ(t.c_cc[VSTOP], dcb.XoffChar);
    // Whatever the block says, the line stays raw and ignores the modem lines.
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), unsigned{CLOCAL | CREAD});
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
  }
}

constexpr unsigned kFlow = IXON | IXOFF;

INSTANTIATE_TEST_SUITE_P(
    Rows, PosixDeviceSettings,
    ::testing::Values(
        SettingsCase{"ParityNone", [](TDcb& d) { d.Parity = 0; }, 0, PARODD | CMSPAR, 0, 0},
        SettingsCase{"ParityOdd", [](TDcb& d) { d.Parity = 1; }, PARODD, CMSPAR, 0, 0},
        SettingsCase{"ParityEven", [](TDcb& d) { d.Parity = 2; }, 0, PARODD | CMSPAR, 0, 0},
        SettingsCase{"ParityMark", [](TDcb& d) { d.Parity = 3; }, PARODD | CMSPAR, 0, 0, 0},
        SettingsCase{"ParitySpace", [](TDcb& d) { d.Parity = 4; }, CMSPAR, PARODD, 0, 0},
        SettingsCase{"OneStopBit", [](TDcb& d) { d.StopBits = 0; }, 0, CSTOPB, 0, 0},
        SettingsCase{"OneAndAHalfRunsAsTwo", [](TDcb& d) { d.StopBits = 1; }, CSTOPB, 0, 0, 0},
        SettingsCase{"TwoStopBits", [](TDcb& d) { d.StopBits = 2; }, CSTOPB, 0, 0, 0},
        SettingsCase{"NoFlowControl", [](TDcb&) {}, 0, CRTSCTS, 0, kFlow},
        SettingsCase{"RtsCts",
                     [](TDcb& d) {
                       d.fOutxCtsFlow = true;
                       d.fRtsControl = RTS_CONTROL_HANDSHAKE;
                     },
                     CRTSCTS, 0, 0, kFlow},
        SettingsCase{"HalfDuplexKeepsCtsFlow",
                     [](TDcb& d) {
                       d.fOutxCtsFlow = true;
                       d.fRtsControl = RTS_CONTROL_TOGGLE;
                     },
                     CRTSCTS, 0, 0, kFlow},
        SettingsCase{"DtrDsrHasNoForm",
                     [](TDcb& d) {
                       d.fOutxDsrFlow = true;
                       d.fDtrControl = DTR_CONTROL_HANDSHAKE;
                     },
                     0, CRTSCTS, 0, kFlow},
        SettingsCase{"XonXoff", [](TDcb& d) { d.fOutX = d.fInX = true; }, 0, CRTSCTS, kFlow, 0},
        SettingsCase{"XonXoffOutputOnly", [](TDcb& d) { d.fOutX = true; }, 0, 0, IXON, IXOFF},
        SettingsCase{"OwnFlowCharacters",
                     [](TDcb& d) {
                       d.fOutX = true;
                       d.XonChar = 0x01;
                       d.XoffChar = 0x02;
                     },
                     0, 0, IXON, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A pty shows no data bits (always CS8); the block must still take them all.
TEST_F(PosixDeviceTest, EveryDataBitCountIsKeptAndImpossibleBlocksAreRefused) {
  for (uint8_t bits = 4; bits <= 8; ++bits) {
    TDcb dcb;
    dcb.ByteSize = bits;
    EXPECT_TRUE(device->ApplyDcb(dcb)) << int{bits};
    EXPECT_EQ(device->Dcb().ByteSize, bits);
  }
  TDcb good;
  good.StopBits = 2;
  ASSERT_TRUE(device->ApplyDcb(good));
  const termios2 before = LineSettings(pty.master());
  const std::function<void(TDcb&)> rows[] = {
      [](TDcb& d) { d.ByteSize = 3; },    [](TDcb& d) { d.ByteSize = 9; },
      [](TDcb& d) { d.Parity = 5; },      [](TDcb& d) { d.StopBits = 3; },
      [](TDcb& d) { d.BaudRate = 0; },    [](TDcb& d) { d.fDtrControl = 3; },
      [](TDcb& d) { d.fRtsControl = 4; },
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    TDcb bad;
    rows[i](bad);
    EXPECT_FALSE(device->ApplyDcb(bad)) << "row " << i;
    EXPECT_EQ(device->Dcb(), good) << "row " << i;
    EXPECT_EQ(LineSettings(pty.master()).c_cflag, before.c_cflag) << "row " << i;
  }
}

// From a standard and from a custom speed, so that both ways of holding a
// speed are left cleanly.
TEST_F(PosixDeviceTest, LineRunsAtTheRequestedStandardOrCustomSpeed) {
  for (auto [speed, cbaud] : {std::pair{115200u, unsigned{B115200}}, {31250u, unsigned{BOTHER}}}) {
    for (uint32_t start : {4800u, 76800u}) {
      SCOPED_TRACE(std::to_string(start) + " to " + std::to_string(speed));
      TDcb from;
      from.BaudRate = start;
      ASSERT_TRUE(device->ApplyDcb(from));
      TDcb dcb;
      dcb.BaudRate = speed;
      ASSERT_TRUE(device->ApplyDcb(dcb)) << strerror(errno);
      const termios2 t = LineSettings(pty.master());
      EXPECT_EQ(t.c_cflag & CBAUD, cbaud);
      EXPECT_EQ(t.c_cflag & (CBAUD << IBSHIFT), 0u);
      EXPECT_EQ(t.c_ospeed, speed);
      EXPECT_EQ(t.c_ispeed, speed);
    }
  }
}

// ---- opening and closing ----

TEST(PosixDeviceOpen, UnusablePathsGiveNullWithTheReason) {
  const std::pair<const char*, int> rows[] = {{"/dev/no-such-serial-line", ENOENT},
                                              {"/dev/null", ENOTTY}};
  for (const auto& [path, error] : rows) {
    errno = 0;
    EXPECT_EQ(OpenPosixDevice(path), nullptr) << path;
    EXPECT_EQ(errno, error) << path;
  }
}

TEST_F(PosixDeviceTest, SecondOpenIsBusyAndTheLineOpensAgainAfterCloseOrRelease) {
  errno = 0;
  EXPECT_EQ(OpenPosixDevice(pty.slavePath()), nullptr);
  EXPECT_EQ(errno, EBUSY);
  const std::function<void()> releases[] = {[&] { device->Close(); }, [&] { device.reset(); }};
  for (const auto& release : releases) {
    release();
    device = OpenPosixDevice(pty.slavePath());
    ASSERT_TRUE(device) << strerror(errno);
    ASSERT_TRUE(WriteToDevice(*device, "out"));
    EXPECT_EQ(pty.Read(3), "out");
    ASSERT_TRUE(pty.WriteAll("in"));
    EXPECT_EQ(ReadFromDevice(*device, 2), "in");
  }
}

// The settings found at open, a custom speed among them, come back at close.
TEST_F(PosixDeviceTest, SettingsFoundAtOpenAreRestoredAtClose) {
  for (uint32_t speed : {4800u, 31250u}) {
    device->Close();
    termios2 found = LineSettings(pty.master());
    found.c_lflag |= ICANON | ECHO;
    found.c_oflag |= OPOST;
    found.c_cflag = (found.c_cflag & ~(CBAUD | CIBAUD)) | CSTOPB | PARODD | BOTHER;
    found.c_ispeed = found.c_ospeed = speed;
    found.c_cc[VMIN] = 1;
    ASSERT_EQ(ioctl(pty.master(), TCSETS2, &found), 0) << strerror(errno);
    found = LineSettings(pty.master());

    device = OpenPosixDevice(pty.slavePath());
    ASSERT_TRUE(device) << strerror(errno);
    TDcb dcb;
    dcb.BaudRate = 250000;
    dcb.fOutxCtsFlow = dcb.fOutX = true;
    ASSERT_TRUE(device->ApplyDcb(dcb));
    ASSERT_EQ(LineSettings(pty.master()).c_lflag & ICANON, 0u);
    device->Close();

    const termios2 back = LineSettings(pty.master());
    EXPECT_EQ(back.c_iflag, found.c_iflag) << speed;
    EXPECT_EQ(back.c_oflag, found.c_oflag) << speed;
    EXPECT_EQ(back.c_cflag, found.c_cflag) << speed;
    EXPECT_EQ(back.c_lflag, found.c_lflag) << speed;
    EXPECT_EQ(std::memcmp(back.c_cc, found.c_cc, sizeof back.c_cc), 0) << speed;
    EXPECT_EQ(back.c_ospeed, speed);
    EXPECT_EQ(back.c_ispeed, speed);
  }
}

// ---- modem lines and hang-up ----

TEST_F(PosixDeviceTest, PtyLooksLikeAConnectedCable) {
  EXPECT_EQ(device->ModemStatus(), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  EXPECT_FALSE(device->HungUp());
  EXPECT_EQ(device->ErrorCounts(), LineErrorCounts{});
  device->SetDtr(false);  // a pty has no lines to drive: nothing may break
  device->SetRts(false);
  ASSERT_TRUE(WriteToDevice(*device, "ok"));
  EXPECT_EQ(pty.Read(2), "ok");
}

// Whichever call notices the other side leaving, the line is hung up for
// good, the carrier is off, exactly one wait returns at once to report it,
// and later waits sleep their whole time (a watcher loop must not spin).
TEST(PosixDeviceHangUp, EveryPathNoticesItAndOneWaitReportsIt) {
  struct Path {
    const char* name;
    std::function<void(SerialDevice&)> notice;
    bool reportsItself;
  };
  uint8_t byte = 'x';
  const Path paths[] = {
      {"WaitEvent", [](SerialDevice& d) { d.WaitEvent(-1, 3000, true); }, true},
      {"WaitWithoutInput", [](SerialDevice& d) { d.WaitEvent(-1, 3000, false); }, true},
      {"ModemStatus", [](SerialDevice& d) { d.ModemStatus(); }, false},
      {"ReadSome", [&](SerialDevice& d) { EXPECT_EQ(d.ReadSome(&byte, 1), -1); }, false},
      {"WriteSome", [&](SerialDevice& d) { EXPECT_EQ(d.WriteSome(&byte, 1), -1); }, false},
  };
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto device = OpenPosixDevice(pty.slavePath());
    ASSERT_TRUE(device);
    pty.CloseMaster();
    auto start = Clock::now();
    path.notice(*device);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_TRUE(device->HungUp());
    EXPECT_EQ(device->ModemStatus() & MS_RLSD_ON, 0u);
    errno = 0;
    EXPECT_EQ(device->ReadSome(&byte, 1), -1);
    EXPECT_EQ(errno, EIO);
    if (!path.reportsItself) {
      start = Clock::now();
      device->WaitEvent(-1, 3000, true);
      EXPECT_LT(MsSince(start), 1000);
    }
    int returns = 0;
    start = Clock::now();
    while (MsSince(start) < 300) {
      const auto wait = Clock::now();
      device->WaitEvent(-1, 100, returns % 2 == 0);
      EXPECT_GE(MsSince(wait), 95);
      ++returns;
    }
    EXPECT_LE(returns, 4);
  }
}

// ---- waits ----

TEST(PosixDeviceWait, WaitEndsForInputTheWakeDescriptorOrACloseFromAnotherThread) {
  struct Row {
    const char* name;
    bool wantInput;
    std::function<void(PtyPair&, SerialDevice&, int wakeFd)> trigger;
  };
  const Row rows[] = {
      {"Input", true, [](PtyPair& p, SerialDevice&, int) { EXPECT_TRUE(p.WriteAll("z")); }},
      {"WakeFd", true,
       [](PtyPair&, SerialDevice&, int fd) {
         const uint64_t one = 1;
         EXPECT_EQ(write(fd, &one, sizeof one), 8);
       }},
      {"Close", true, [](PtyPair&, SerialDevice& d, int) { d.Close(); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto device = OpenPosixDevice(pty.slavePath());
    ASSERT_TRUE(device);
    const int wake = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    const auto start = Clock::now();
    std::thread trigger([&] { row.trigger(pty, *device, wake); });
    device->WaitEvent(wake, 5000, row.wantInput);
    EXPECT_LT(MsSince(start), 2000);
    trigger.join();
    close(wake);
  }
}

// Idle, or with input waiting that the caller did not ask for, a wait lasts
// its whole timeout.
TEST_F(PosixDeviceTest, WaitWithNothingWantedLastsItsTimeout) {
  for (bool inputWaiting : {false, true}) {
    if (inputWaiting) {
      ASSERT_TRUE(pty.WriteAll("z"));
      const auto deadline = Clock::now() + std::chrono::seconds(5);
      while (device->InQueue() == 0 && Clock::now() < deadline) device->WaitEvent(-1, 100, true);
      ASSERT_EQ(device->InQueue(), 1u);
    }
    const auto start = Clock::now();
    device->WaitEvent(-1, 150, !inputWaiting);
    EXPECT_GE(MsSince(start), 145) << inputWaiting;
    EXPECT_LT(MsSince(start), 2000) << inputWaiting;
  }
  device->Purge();
  EXPECT_EQ(device->InQueue(), 0u) << "Purge drops waiting input";
}

// With nobody reading the master, the device stays writable to poll but
// takes nothing: waiting for room must sleep, not spin, and keep its limit.
TEST_F(PosixDeviceTest, WaitingForOutputRoomSleepsWhileThePeerDoesNotRead) {
  const std::string block(4096, 'w');
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (device->WriteSome(reinterpret_cast<const uint8_t*>(block.data()), block.size()) > 0)
    ASSERT_LT(Clock::now(), deadline);
  int calls = 0;
  const auto start = Clock::now();
  while (MsSince(start) < 200) {
    const auto call = Clock::now();
    device->WaitOutputRoom(100);
    EXPECT_LT(MsSince(call), 1000);
    ++calls;
  }
  EXPECT_LE(calls, 220);
}

// Close races with every other operation; all of them end, and every call
// after it fails cleanly (under ThreadSanitizer this also guards the locking).
TEST_F(PosixDeviceTest, CloseRacingWithEveryOperationEndsThemAllAndLaterCallsFail) {
  std::atomic<bool> stop{false};
  std::atomic<int> started{0};
  const std::function<void()> loops[] = {
      [&] {
        uint8_t buffer[64];
        device->WaitEvent(-1, 20, true);
        device->ReadSome(buffer, sizeof buffer);
      },
      [&] {
        const uint8_t byte = 'x';
        device->WriteSome(&byte, 1);
        device->WaitOutputRoom(20);
        device->OutQueue();
      },
      [&] {
        device->ModemStatus();
        device->ApplyDcb(TDcb{});
        device->HungUp();
        device->ErrorCounts();
        device->InQueue();
        device->SetDtr(true);
      },
  };
  std::vector<std::thread> threads;
  for (const auto& body : loops) {
    threads.emplace_back([&] {
      for (bool first = true; !stop; first = false) {
        body();
        if (first) {
          ++started;
          started.notify_one();
        }
      }
    });
  }
  for (int n = started; n < 3; n = started) started.wait(n);
  device->Close();
  stop = true;
  for (auto& t : threads) t.join();
  uint8_t byte = 'x';
  errno = 0;
  EXPECT_EQ(device->ReadSome(&byte, 1), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(device->WriteSome(&byte, 1), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(device->ApplyDcb(TDcb{}));
  EXPECT_EQ(device->ModemStatus(), 0u);
  const auto start = Clock::now();
  device->WaitEvent(-1, 5000, true);
  device->WaitOutputRoom(5000);
  EXPECT_LT(MsSince(start), 1000) << "waits on a closed device return at once";
  device->Close();  // twice is harmless
}

}  // namespace
