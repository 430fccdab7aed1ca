#include "LineRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "RelayDirection.h"

struct LineRelay::Shared {
  int master[2] = {-1, -1};
  int slave[2] = {-1, -1};
  int stopFd = -1;
  std::atomic<uint64_t> moved[2] = {0, 0};  // [0] A to B, [1] B to A
  std::atomic<uint64_t> flipped{0};

  ~Shared() {
    for (int fd : {master[0], master[1], slave[0], slave[1], stopFd}) {
      if (fd >= 0) close(fd);
    }
  }
};

namespace {

// Opens one raw pty; the master is non-blocking. Returns the slave's path,
// empty on failure.
std::string OpenRawPty(int& master, int& slave) {
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&raw, B115200);
  char name[256] = {};
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) return std::string();
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return name;
}

using OptionalTime = std::optional<RelayClock::time_point>;

OptionalTime Earliest(OptionalTime a, OptionalTime b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

// When the loop must wake even if no descriptor becomes ready.
OptionalTime WakeTime(const RelayDirection& d, RelayClock::time_point now) {
  OptionalTime wake = d.Blocked() ? std::nullopt : d.NextDue();
  if (!d.WantsInput(now)) wake = Earliest(wake, d.InputAllowedAt());
  return wake;
}

int Poll(pollfd* fds, nfds_t count, OptionalTime wake, RelayClock::time_point now) {
  if (!wake) return ppoll(fds, count, nullptr, nullptr);
  const auto wait = std::max(*wake - now, RelayClock::duration::zero());
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
  const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                         static_cast<long>(ns % 1'000'000'000)};
  return ppoll(fds, count, &timeout, nullptr);
}

// The relay thread: until the stop signal, move due bytes to their far end,
// then sleep in poll() until a master has bytes or room, or a byte falls due.
void Run(LineRelay::Shared& s, const LineRelay::Options& options) {
  RelayDirection::Line line{options.speed, options.latencyMs, options.bitErrorRate,
                            options.byteErrorRate, options.seed};
  RelayDirection aToB(s.master[0], s.master[1], line, s.moved[0], s.flipped);
  line.seed = options.seed ^ 0x9E3779B97F4A7C15ULL;
  RelayDirection bToA(s.master[1], s.master[0], line, s.moved[1], s.flipped);
  for (;;) {
    auto now = RelayClock::now();
    aToB.Deliver(now);
    bToA.Deliver(now);
    pollfd fds[3] = {{s.stopFd, POLLIN, 0}, {s.master[0], 0, 0}, {s.master[1], 0, 0}};
    fds[1].events =
        static_cast<short>((aToB.WantsInput(now) ? POLLIN : 0) | (bToA.Blocked() ? POLLOUT : 0));
    fds[2].events =
        static_cast<short>((bToA.WantsInput(now) ? POLLIN : 0) | (aToB.Blocked() ? POLLOUT : 0));
    for (pollfd& p : fds) {
      if (p.events == 0) p.fd = -1;  // a master with nothing to wait for must not wake us
    }
    const int n = Poll(fds, 3, Earliest(WakeTime(aToB, now), WakeTime(bToA, now)), now);
    if (n < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    now = RelayClock::now();
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) aToB.ReadInput(now);
    if (fds[2].revents & (POLLIN | POLLERR | POLLHUP)) bToA.ReadInput(now);
  }
}

}  // namespace

LineRelay::LineRelay(const Options& options) : shared_(std::make_shared<Shared>()) {
  Shared& s = *shared_;
  pathA_ = OpenRawPty(s.master[0], s.slave[0]);
  if (pathA_.empty()) return;
  pathB_ = OpenRawPty(s.master[1], s.slave[1]);
  if (pathB_.empty()) return;
  s.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (s.stopFd < 0) return;
  thread_ = std::thread([shared = shared_, options] { Run(*shared, options); });
  ok_ = true;
}

LineRelay::~LineRelay() { Stop(); }

void LineRelay::Stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  if (write(shared_->stopFd, &one, sizeof one) < 0) {
    // An eventfd only refuses a write when its counter would overflow, and
    // then the relay has already been told to stop.
  }
  thread_.join();
}

uint64_t LineRelay::BytesAToB() const { return shared_->moved[0].load(); }
uint64_t LineRelay::BytesBToA() const { return shared_->moved[1].load(); }
uint64_t LineRelay::BitsFlipped() const { return shared_->flipped.load(); }

double LineRelay::RelayCpuSeconds() const {
  if (!thread_.joinable()) return 0.0;
  clockid_t clock;
  // const_cast: native_handle() is not const, but reading the clock id changes nothing.
  auto& thread = const_cast<std::thread&>(thread_);
  if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0) return 0.0;
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return 0.0;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
