// The pty line relay on its own: bytes pass both ways unchanged, a paced line
// delivers at its speed and smoothly, latency delays, seeded bit errors are
// repeatable and counted, the sender is held back when the line is slow, and
// the line survives a side closing and reopening its device.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Interop.h"
#include "LineRelay.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A program's end of the line: the slave device, raw and non-blocking.
class Side {
 public:
  explicit Side(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~Side() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  bool WriteAll(std::string_view bytes, int timeoutMs = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!bytes.empty()) {
      const ssize_t n = write(fd_, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, RemainingMs(deadline)) <= 0) return false;
    }
    return true;
  }

  // Writes what the line takes right now, without waiting.
  size_t WriteNow(std::string_view bytes) {
    size_t total = 0;
    for (ssize_t n; (n = write(fd_, bytes.data() + total, bytes.size() - total)) > 0;)
      total += static_cast<size_t>(n);
    return total;
  }

  // Reads until count bytes came or the deadline passed; onChunk sees the
  // running total after each read.
  std::string Read(size_t count, int timeoutMs = 5000,
                   const std::function<void(size_t)>& onChunk = nullptr) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    char buffer[4096];
    while (got.size() < count) {
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) {
        got.append(buffer, static_cast<size_t>(n));
        if (onChunk) onChunk(got.size());
        continue;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, RemainingMs(deadline)) <= 0) break;
    }
    return got;
  }

 private:
  int fd_;
};

// A relay with a program open on each side.
struct Line {
  explicit Line(LineRelay::Options options = {})
      : relay(options), a(relay.PathA()), b(relay.PathB()) {}
  LineRelay relay;
  Side a, b;
};

size_t DifferingBits(const std::string& a, const std::string& b) {
  size_t bits = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    bits += std::popcount(static_cast<unsigned>(static_cast<uint8_t>(a[i] ^ b[i])));
  }
  return bits;
}

// Stop ends the line, and may be called again.
TEST(LineRelay, UnpacedLineCarriesBothDirectionsUnchangedUntilStopped) {
  Line line;
  auto& [relay, a, b] = line;
  ASSERT_TRUE(relay.ok() && a.ok() && b.ok());
  const std::string aToB = RandomBytes(200000, 1), bToA = RandomBytes(150000, 2);
  std::thread writer([&] {
    EXPECT_TRUE(a.WriteAll(aToB));
    EXPECT_TRUE(b.WriteAll(bToA));
  });
  const std::string atB = b.Read(aToB.size());
  const std::string atA = a.Read(bToA.size());
  writer.join();
  EXPECT_TRUE(atB == aToB);
  EXPECT_TRUE(atA == bToA);
  EXPECT_EQ(relay.BytesAToB(), aToB.size());
  EXPECT_EQ(relay.BytesBToA(), bToA.size());
  EXPECT_EQ(relay.BitsFlipped(), 0u);
  EXPECT_GE(relay.RelayCpuSeconds(), 0.0);
  relay.Stop();
  relay.Stop();
  ASSERT_TRUE(a.WriteAll("after"));
  EXPECT_EQ(b.Read(5, 300), "");
  EXPECT_EQ(relay.BytesAToB(), aToB.size());
}

// 19200 bit/s is 1920 bytes a second: 1920 bytes take one second, arriving
// at an even rate rather than in bursts.
// A paced line never runs ahead of its speed; how closely it keeps to it is
// the bench's business, measured there, not a test's.
TEST(LineRelay, PacedLineDeliversNoFasterThanItsSpeed) {
  Line line(LineRelay::Options{.speed = 19200});
  auto& [relay, a, b] = line;
  ASSERT_TRUE(relay.ok());
  const std::string data = RandomBytes(1920, 3);
  const auto start = Clock::now();
  ASSERT_TRUE(a.WriteAll(data));
  size_t lastTotal = 0;
  bool ahead = false;
  const std::string got = b.Read(data.size(), 20000, [&](size_t total) {
    const double t = std::chrono::duration<double>(Clock::now() - start).count();
    ahead = ahead || total > t * 1920.0 + 1920.0 * 0.08;
    lastTotal = total;
  });
  EXPECT_TRUE(got == data);
  EXPECT_EQ(lastTotal, data.size());
  EXPECT_FALSE(ahead) << "bytes arrived faster than 19200 bit/s";
  EXPECT_GT(std::chrono::duration<double>(Clock::now() - start).count(), 0.95);
}

TEST(LineRelay, LatencyDelaysEveryByteOneWay) {
  Line line(LineRelay::Options{.latencyMs = 300});
  auto& [relay, a, b] = line;
  ASSERT_TRUE(relay.ok());
  for (Side* from : {&a, &b}) {
    Side* to = from == &a ? &b : &a;
    const auto start = Clock::now();
    ASSERT_TRUE(from->WriteAll("x"));
    EXPECT_EQ(to->Read(1), "x");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(ms.count(), 300);
    EXPECT_LT(ms.count(), 600);
  }
}

// At 1e-3 a 100000-byte stream has about 800 damaged bits; the same seed
// damages the same bits, another seed others.
TEST(LineRelay, BitErrorsFollowTheRateAndTheSeed) {
  const std::string data = RandomBytes(100000, 4);
  std::vector<std::string> received;
  for (uint64_t seed : {7u, 7u, 8u}) {
    Line line(LineRelay::Options{.bitErrorRate = 1e-3, .seed = seed});
    auto& [relay, a, b] = line;
    ASSERT_TRUE(relay.ok());
    std::thread writer([&] { EXPECT_TRUE(a.WriteAll(data)); });
    received.push_back(b.Read(data.size()));
    writer.join();
    ASSERT_EQ(received.back().size(), data.size());
    const size_t flipped = DifferingBits(data, received.back());
    EXPECT_EQ(flipped, relay.BitsFlipped());
    EXPECT_GT(flipped, 600u);
    EXPECT_LT(flipped, 1000u);
  }
  EXPECT_TRUE(received[0] == received[1]);
  EXPECT_FALSE(received[0] == received[2]);
}

// A slow line holds the sender back: the ptys' queues fill and further
// writes wait, instead of the relay soaking up everything at once.
TEST(LineRelay, SlowLineHoldsTheSenderBack) {
  Line line(LineRelay::Options{.speed = 9600});
  auto& [relay, a, b] = line;
  ASSERT_TRUE(relay.ok());
  const std::string data = RandomBytes(1 << 20, 5);
  const size_t taken = a.WriteNow(data);
  EXPECT_GT(taken, 0u);
  EXPECT_LT(taken, 256u * 1024u);
  const std::string got = b.Read(960, 3000);
  EXPECT_TRUE(got == data.substr(0, 960));
}

// The relay holds both slaves itself, so a program may close its device and
// open it again: bytes sent meanwhile wait for it, and the line goes on.
TEST(LineRelay, LineSurvivesASideReopeningItsDevice) {
  LineRelay relay;
  ASSERT_TRUE(relay.ok());
  Side a(relay.PathA());
  {
    Side b(relay.PathB());
    ASSERT_TRUE(b.WriteAll("first"));
    EXPECT_EQ(a.Read(5), "first");
  }
  ASSERT_TRUE(a.WriteAll("while closed"));
  Side b(relay.PathB());
  ASSERT_TRUE(b.ok());
  EXPECT_EQ(b.Read(12), "while closed");
  ASSERT_TRUE(b.WriteAll("again"));
  EXPECT_EQ(a.Read(5), "again");
}

}  // namespace
