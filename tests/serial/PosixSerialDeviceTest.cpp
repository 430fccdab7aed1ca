// The termios device on a pseudo-terminal pair. Settings are read with the
// kernel's termios2 (TCGETS2 on the master reads the slave's), so this file
// must not include <termios.h>. A pty keeps parity oddness, CMSPAR, CSTOPB,
// flow control and any speed; it forces CS8 and clears PARENB.

#include <asm/termbits.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <poll.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "Files.h"
#include "OpenFailure.h"
#include "PosixSerialDevice.h"
#include "PtyPair.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

termios2 LineSettings(int masterFd) {
  termios2 t{};
  EXPECT_EQ(ioctl(masterFd, TCGETS2, &t), 0) << strerror(errno);
  return t;
}

struct PosixDevice : ::testing::Test {
  PtyPair pty;
  std::shared_ptr<SerialDevice> device = OpenPosixDevice(pty.slavePath());
};

// Each row is applied over a block with everything on (at a custom speed)
// and over one with everything off, so a bit never set or never cleared shows.
TEST_F(PosixDevice, LineHoldsTheRequestedBitsAndStaysRaw) {
  const struct {
    void (*change)(TDcb&);
    unsigned cflagOn, cflagOff, iflagOn, iflagOff;
  } rows[] = {
      {[](TDcb& d) { d.Parity = 1; }, PARODD, CMSPAR | CSTOPB | CRTSCTS, 0, IXON | IXOFF},
      {[](TDcb& d) { d.Parity = 3; }, PARODD | CMSPAR, 0, 0, 0},
      {[](TDcb& d) { d.Parity = 4; }, CMSPAR, PARODD, 0, 0},
      {[](TDcb& d) { d.StopBits = 1; }, CSTOPB, 0, 0, 0},  // one and a half runs as two
      {[](TDcb& d) { d.fOutxCtsFlow = true; }, CRTSCTS, 0, 0, 0},
      {[](TDcb& d) { d.fOutX = true; }, 0, CRTSCTS, IXON, IXOFF},
      {[](TDcb& d) { d.BaudRate = 115200; }, B115200, (CBAUD & ~B115200) | CIBAUD, 0, 0},
      {[](TDcb& d) { d.BaudRate = 31250; }, BOTHER, (CBAUD & ~BOTHER) | CIBAUD, 0, 0},
  };
  TDcb allOn{.BaudRate = 76800, .Parity = 3, .StopBits = 2, .fOutxCtsFlow = true};
  allOn.fOutX = allOn.fInX = true;
  for (const auto& row : rows) {
    for (const TDcb& start : {allOn, TDcb{}}) {
      TDcb dcb;
      row.change(dcb);
      ASSERT_TRUE(device->ApplyDcb(start) && device->ApplyDcb(dcb));
      const termios2 t = LineSettings(pty.master());
      SCOPED_TRACE(testing::Message() << "row " << (&row - rows) << std::oct << " " << t.c_cflag);
      EXPECT_EQ(t.c_cflag & (row.cflagOn | row.cflagOff | CLOCAL | CREAD),
                row.cflagOn | CLOCAL | CREAD);
      EXPECT_EQ(t.c_iflag & (row.iflagOn | row.iflagOff), row.iflagOn);
      EXPECT_EQ(t.c_lflag & ICANON, 0u);
      EXPECT_EQ(t.c_ospeed, dcb.BaudRate);
    }
  }
}

// The settings found at open, a custom speed among them, come back at close;
// the line is held exclusively until then and opens again after.
TEST_F(PosixDevice, SecondOpenIsBusyAndSettingsFoundAtOpenAreRestoredAtClose) {
  for (uint32_t speed : {4800u, 31250u}) {
    EXPECT_EQ(OpenPosixDevice(pty.slavePath()), nullptr);
    EXPECT_EQ(errno, EBUSY);
    device->Close();
    termios2 found = LineSettings(pty.master());
    found.c_lflag |= ICANON | ECHO;
    found.c_oflag |= OPOST;
    found.c_cflag = (found.c_cflag & ~(CBAUD | CIBAUD)) | CSTOPB | PARODD | BOTHER;
    found.c_ispeed = found.c_ospeed = speed;
    found.c_cc[VMIN] = 1;
    ASSERT_EQ(ioctl(pty.master(), TCSETS2, &found), 0) << strerror(errno);
    found = LineSettings(pty.master());
    ASSERT_TRUE(device = OpenPosixDevice(pty.slavePath()));
    ASSERT_TRUE(device->ApplyDcb({.BaudRate = 250000, .fOutxCtsFlow = true}));
    ASSERT_EQ(device->WriteSome(reinterpret_cast<const uint8_t*>("out"), 3), 3);
    EXPECT_EQ(pty.Read(3), "out");
    device.reset();  // dropping the device closes it too
    const termios2 back = LineSettings(pty.master());
    EXPECT_EQ(std::memcmp(&back, &found, sizeof back), 0) << speed;
    ASSERT_TRUE(device = OpenPosixDevice(pty.slavePath()));
  }
}

// Why an open failed: real failures where the test can cause them, else the
// errno with a node of our own (root opens any node whatever its mode).
TEST_F(PosixDevice, FailedOpenSaysWhy) {
  TempDir dev;
  for (const char* name : {"ttyS0", "ttyUSB0", "shared", "private"}) std::ofstream(dev / name);
  const gid_t gid = getegid() ? getegid() : 65534;
  ASSERT_EQ(chown((dev / "shared").c_str(), -1, gid) | chmod((dev / "shared").c_str(), 0660) |
                chmod((dev / "private").c_str(), 0600),
            0);
  std::ofstream(dev / "LCK..ttyUSB0") << "  4321\n";
  const std::string group = getgrgid(gid)->gr_name;
  const std::tuple<std::string, int, std::string> rows[] = {
      {pty.slavePath(), 0,
       " は他のプログラム (PID " + std::to_string(getpid()) + ") が使用中です."},
      {dev / "ttyUSB0", EBUSY, " は他のプログラム (PID 4321) が使用中です."},
      {dev / "ttyUSB9", 0,
       " はありません. あるデバイス: " + (dev / "ttyUSB0") + ", " + (dev / "ttyS0")},
      {dev / "shared", EACCES,
       " を使うには " + group + " グループに入り, ログインし直してください."},
      {dev / "private", EACCES, " を使う権限がありません."},
      {dev / "ttyS0", EIO, " をオープンできません (Input/output error)."},
  };
  for (const auto& [path, given, says] : rows) {
    const int error = given ? given : (OpenPosixDevice(path) ? 0 : errno);
    EXPECT_EQ(ExplainOpenFailure(path, error, dev.path(), dev.path()).Japanese(), path + says);
  }
}

// Whichever call notices the other side leaving, the line is hung up for
// good with the carrier off, and later waits sleep (a watcher must not spin).
TEST(PosixDeviceHangUp, EveryPathNoticesIt) {
  uint8_t byte = 'x';
  const std::function<void(SerialDevice&)> paths[] = {
      [](SerialDevice& d) { d.WaitEvent(-1, 3000, true); },
      [](SerialDevice& d) { d.ModemStatus(); },
      [&](SerialDevice& d) { EXPECT_EQ(d.ReadSome(&byte, 1), -1); },
      [&](SerialDevice& d) { EXPECT_EQ(d.WriteSome(&byte, 1), -1); },
  };
  for (const auto& notice : paths) {
    SCOPED_TRACE(&notice - paths);
    PtyPair pty;
    auto device = OpenPosixDevice(pty.slavePath());
    EXPECT_EQ(device->ModemStatus(), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
    pty.CloseMaster();
    notice(*device);
    EXPECT_TRUE(device->HungUp());
    EXPECT_TRUE(device->TakeLineChange()) << "the watcher is sent to read the lines";
    EXPECT_EQ(device->ModemStatus() & MS_RLSD_ON, 0u);
    EXPECT_EQ(device->ReadSome(&byte, 1), -1);
    EXPECT_EQ(errno, EIO);
    device->WaitEvent(-1, 0, true);  // the one that reports it, if none did yet
    int returns = 0;
    for (const auto end = Clock::now() + 300ms; Clock::now() < end; ++returns)
      device->WaitEvent(-1, 100, true);
    EXPECT_LE(returns, 4);
  }
}

// A pty says nothing of what its reader has not taken. Once the reader is
// seen to take bytes at the line's speed, the device counts its queue at
// that speed, so that a writer keeping little queued leaves little for a
// purge to miss; a reader that stops is never taken for the line's.
TEST_F(PosixDevice, PtyQueueIsCountedOnlyWhileItsReaderKeepsTheLinesSpeed) {
  ASSERT_TRUE(device->ApplyDcb({.BaudRate = 115200}));  // 11,520 bytes a second
  enum Mode { kStopped, kPaced, kAll };
  std::atomic<int> mode{kStopped};
  std::atomic<size_t> taken{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    char buffer[4096];
    Clock::time_point pacedFrom;
    size_t pacedTaken = 0;
    for (int last = kStopped; !stop; std::this_thread::sleep_for(2ms)) {
      if (mode != last && (last = mode) == kPaced) pacedFrom = Clock::now(), pacedTaken = 0;
      size_t want = sizeof buffer;
      if (last == kStopped) continue;
      if (last == kPaced) {
        const auto due = static_cast<size_t>((Clock::now() - pacedFrom) / 1ms * 11520 / 1000);
        want = std::min(want, due - pacedTaken);
      }
      pollfd p{pty.master(), POLLIN, 0};
      if (want == 0 || poll(&p, 1, 0) <= 0) continue;
      const ssize_t n = read(pty.master(), buffer, want);
      if (n > 0) pacedTaken += static_cast<size_t>(n), taken += static_cast<size_t>(n);
    }
  });
  const std::string piece(256, 'x');
  const auto write = [&](std::chrono::milliseconds period, size_t bound) {
    for (const auto end = Clock::now() + period; Clock::now() < end;) {
      const bool room = device->OutQueue() + piece.size() <= bound;
      if (!room || device->WriteSome(reinterpret_cast<const uint8_t*>(piece.data()), 256) <= 0)
        device->WaitOutputRoom(5);
    }
  };
  write(400ms, SIZE_MAX);  // fills the pty while nothing is read
  EXPECT_EQ(device->OutQueue(), 0u) << "a stopped reader is not the line's speed";
  mode = kPaced;
  write(600ms, SIZE_MAX);
  EXPECT_GT(device->OutQueue(), 0u) << "the reader keeps the line's speed";
  device->PurgeOutput();
  EXPECT_LE(device->OutQueue(), 4096u) << "what the reader's line buffer may hold";
  constexpr size_t kLead = 1152;  // 100 ms of line
  write(800ms, kLead);
  device->PurgeOutput();
  const size_t before = taken;
  mode = kAll;
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(taken - before, kLead + 1024) << "what a purge could not reach";
  stop = true;
  reader.join();
}

// Close races with every other operation: all of them end, and every call
// after it fails cleanly (under ThreadSanitizer this also guards the locking).
TEST_F(PosixDevice, CloseRacingWithEveryOperationEndsThemAllAndLaterCallsFail) {
  uint8_t byte = 'x';
  const std::function<void()> loops[] = {
      [&] { device->WaitEvent(-1, 20, true), device->ReadSome(&byte, 1); },
      [&] { device->WriteSome(&byte, 1), device->WaitOutputRoom(20), device->OutQueue(); },
      [&] { device->ModemStatus(), device->ApplyDcb(TDcb{}), device->HungUp(); },
      [&] { device->ErrorCounts(), device->InQueue(), device->SetDtr(true); },
  };
  std::atomic<int> started{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (const auto& body : loops)
    threads.emplace_back([&] {
      for (body(), ++started; !stop;) body();
    });
  while (started < 4) std::this_thread::yield();
  device->Close();
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(device->ReadSome(&byte, 1), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(device->WriteSome(&byte, 1), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(device->ApplyDcb(TDcb{}));
  device->WaitEvent(-1, -1, true);  // waits on a closed device return at once
  device->WaitOutputRoom(-1);
  device->Close();  // twice is harmless
}

// On a line with modem lines a thread waits in the driver for them to
// change. Close ends it every time, even straight after the open.
TEST(PosixDeviceLines, CloseEndsTheLineWait) {
  const auto threads = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
  };
  // Counted after a first round: a sanitizer's runtime starts a thread of
  // its own with the first thread the program makes.
  auto first = OpenPosixDevice("/dev/ttyS0");
  if (!first) GTEST_SKIP() << "/dev/ttyS0: " << strerror(errno);
  first->Close();
  first.reset();
  const auto before = threads();
  for (int i = 0; i < 20; ++i) {
    auto device = OpenPosixDevice("/dev/ttyS0");
    ASSERT_TRUE(device) << "/dev/ttyS0: " << strerror(errno);
    device->Close();
    for (const auto end = Clock::now() + 10s; threads() > before && Clock::now() < end;)
      std::this_thread::sleep_for(1ms);
    EXPECT_EQ(threads(), before);
  }
}

}  // namespace
