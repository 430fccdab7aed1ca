#include "VirtualLine.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Nanos = std::chrono::nanoseconds;

// What an end's transmitter holds when SetupQueues has not said otherwise.
constexpr size_t kDefaultOutCapacity = 4096;
// Mixed into the seed of the second direction so that the two directions of
// one line do not corrupt in lockstep.
constexpr uint64_t kSecondDirectionSalt = 0x9E3779B97F4A7C15ULL;
// Gap between bit errors that stands for "never" (no overflow when added to).
constexpr uint64_t kNoError = uint64_t{1} << 62;

VirtualLine::Options Normalised(VirtualLine::Options o) {
  o.speed = std::max(o.speed, 0);
  o.latency = std::max(o.latency, std::chrono::microseconds{0});
  if (!(o.bitErrorRate > 0)) o.bitErrorRate = 0;  // also catches NaN
  o.bitErrorRate = std::min(o.bitErrorRate, 1.0);
  o.inputCapacity = std::max<size_t>(o.inputCapacity, 1);
  return o;
}

void Notify(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

void Drain(int fd) {
  uint64_t count;
  [[maybe_unused]] ssize_t n = read(fd, &count, sizeof count);
}

std::optional<TimePoint> Earliest(std::optional<TimePoint> a, std::optional<TimePoint> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

// Whole milliseconds until t, rounded up and at least one: a receiver is woken
// for due bytes no more than once a millisecond, as a UART's FIFO timeout does.
int MsUntil(TimePoint t, TimePoint now) {
  const auto ns = std::chrono::duration_cast<Nanos>(t - now).count();
  const long long ms = (ns + 999'999) / 1'000'000;
  return static_cast<int>(std::clamp<long long>(ms, 1, INT_MAX));
}

}  // namespace

// The state of both directions and both ends, all under one mutex. Bytes move
// lazily: every access first advances the line to "now", so no thread pumps.
// dirs[e] carries the bytes written at end e towards end 1 - e.
struct VirtualLine::Impl {
  struct WireByte {
    TimePoint arrival;
    uint8_t value;
  };
  struct Direction {
    std::deque<uint8_t> out;    // written, not yet sent
    std::deque<WireByte> wire;  // sent, arriving at their times
    std::deque<uint8_t> in;     // arrived, unread
    TimePoint txFree{};         // the transmitter starts no byte before this
    TimePoint lastArrival{};    // keeps arrivals in order when latency drops
    std::mt19937_64 rng;
    uint64_t cleanBits = kNoError;  // data bits that pass before the next flip
  };
  struct EndState {
    bool open = false;  // open as a device
    bool rts = false;
    bool dtr = false;
    bool cts = false;
    bool dsr = false;
    bool rlsd = false;
    bool ring = false;
    size_t inCapacity = 0;  // 0: the line's inputCapacity
    size_t outCapacity = kDefaultOutCapacity;
    int eventFd = -1;
    bool held = false;    // HoldWait: the device's event wait stays parked
    bool parked = false;  // the device's event wait is parked
    // The flow control of the device open at this end. Input flow needs no
    // model of its own: a full input holds the far transmitter anyway.
    bool ctsFlow = false;   // CTS off holds this end's transmitter
    bool outX = false;      // XOFF and XON from the far end hold and release it
    bool xoffHeld = false;  // an XOFF came and no XON since
    uint8_t xon = 0x11;
    uint8_t xoff = 0x13;
  };

  Impl(std::string lineName, Options o) : name(std::move(lineName)) {
    for (EndState& e : ends) {
      e.eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
      if (e.eventFd < 0) {
        const int error = errno;
        CloseEventFds();
        throw std::system_error(error, std::generic_category(), "eventfd");
      }
    }
    ApplyOptions(o);
  }
  ~Impl() { CloseEventFds(); }

  void CloseEventFds() {
    for (EndState& e : ends)
      if (e.eventFd >= 0) close(std::exchange(e.eventFd, -1));
  }

  void ApplyOptions(Options o) {
    options = Normalised(o);
    interval = options.speed > 0 ? Nanos(10'000'000'000LL / options.speed) : Nanos(0);
    for (int d = 0; d < 2; ++d) {
      dirs[d].rng.seed(options.seed ^ (d ? kSecondDirectionSalt : 0));
      dirs[d].cleanBits = NextGap(dirs[d]);
    }
  }

  // Clean bits before the next error: geometric, so a clean line costs nothing.
  uint64_t NextGap(Direction& x) {
    const double p = options.bitErrorRate;
    if (p <= 0) return kNoError;
    if (p >= 1) return 0;
    const double u = (static_cast<double>(x.rng() >> 11) + 1.0) * 0x1.0p-53;  // (0, 1]
    const double gap = std::floor(std::log(u) / std::log1p(-p));
    return gap >= static_cast<double>(kNoError) ? kNoError : static_cast<uint64_t>(gap);
  }

  uint8_t Corrupt(Direction& x, uint8_t value) {
    if (options.bitErrorRate <= 0) return value;
    uint64_t bit = x.cleanBits;
    while (bit < 8) {
      value ^= static_cast<uint8_t>(1u << bit);
      bit += 1 + NextGap(x);
    }
    x.cleanBits = bit - 8;
    return value;
  }

  size_t Capacity(int d) const {
    const size_t c = ends[1 - d].inCapacity;
    return c ? c : options.inputCapacity;
  }
  // The receiver holds all it may: the transmitter waits, as with RTS/CTS.
  bool Blocked(int d) const { return dirs[d].wire.size() + dirs[d].in.size() >= Capacity(d); }
  // The transmitting end's flow control holds it.
  bool Held(int d) const { return (ends[d].ctsFlow && !ends[d].cts) || ends[d].xoffHeld; }
  bool Stopped(int d) const { return Blocked(d) || Held(d); }

  void Advance(int d, TimePoint now) {
    Direction& x = dirs[d];
    while (!x.out.empty() && x.txFree <= now && !Stopped(d)) {
      const TimePoint arrival = std::max(x.txFree + interval + options.latency, x.lastArrival);
      x.lastArrival = arrival;
      x.wire.push_back({arrival, Corrupt(x, x.out.front())});
      x.out.pop_front();
      x.txFree += interval;
    }
    // An idle or held-up transmitter banks no time: its next byte starts no
    // earlier than the access that finds it able to send.
    if (x.txFree < now && (x.out.empty() || Stopped(d))) x.txFree = now;
    Deliver(d, now);
  }

  // Bytes that have arrived enter the receiver's input, except the XOFF and
  // XON that a receiver using them takes for itself.
  void Deliver(int d, TimePoint now) {
    Direction& x = dirs[d];
    EndState& r = ends[1 - d];
    while (!x.wire.empty() && x.wire.front().arrival <= now) {
      const uint8_t value = x.wire.front().value;
      x.wire.pop_front();
      if (!r.outX || (value != r.xon && value != r.xoff)) {
        x.in.push_back(value);
      } else if (r.xoffHeld != (value == r.xoff)) {
        r.xoffHeld = value == r.xoff;
        SignalBoth();
      }
    }
  }

  // Runs f on the line brought up to now, under the line's mutex.
  template <typename F>
  auto Locked(F f) {
    std::lock_guard lock(mutex);
    AdvanceAll();
    return f(*this);
  }

  TimePoint AdvanceAll() {
    const TimePoint now = Clock::now();
    Deliver(0, now);  // an XOFF that has come holds what would leave after it
    Deliver(1, now);
    Advance(0, now);
    Advance(1, now);
    return now;
  }

  // When the next byte on its way in direction d arrives, if one is coming.
  std::optional<TimePoint> NextArrival(int d) const {
    const Direction& x = dirs[d];
    if (!x.wire.empty()) return x.wire.front().arrival;
    if (x.out.empty() || Stopped(d)) return std::nullopt;
    return std::max(x.txFree + interval + options.latency, x.lastArrival);
  }
  std::optional<TimePoint> NextDeparture(int d) const {
    if (dirs[d].out.empty() || Stopped(d)) return std::nullopt;
    return dirs[d].txFree;
  }
  // When the output queue of direction d will have emptied, if nothing holds it.
  std::optional<TimePoint> DrainTime(int d) const {
    const Direction& x = dirs[d];
    if (x.out.empty() || Stopped(d)) return std::nullopt;
    return x.txFree + interval * static_cast<long long>(x.out.size() - 1);
  }

  void Signal(int e) {
    Notify(ends[e].eventFd);
    changed.notify_all();
  }
  void SignalBoth() {
    Signal(0);
    Signal(1);
  }

  void Queue(int e, const uint8_t* bytes, size_t count) {
    const TimePoint now = AdvanceAll();
    dirs[e].out.insert(dirs[e].out.end(), bytes, bytes + count);
    Advance(e, now);
    Signal(1 - e);
  }

  // Takes up to max arrived bytes at end r into dest; the line is advanced.
  size_t Take(int r, uint8_t* dest, size_t max) {
    const int d = 1 - r;
    Direction& x = dirs[d];
    const bool wasBlocked = !x.out.empty() && Blocked(d);
    const size_t n = std::min(max, x.in.size());
    std::copy_n(x.in.begin(), n, dest);
    x.in.erase(x.in.begin(), x.in.begin() + static_cast<ptrdiff_t>(n));
    if (wasBlocked && n > 0) {
      Advance(d, Clock::now());
      Signal(d);
      Signal(r);
    }
    return n;
  }

  std::string TakeString(int r, size_t max) {
    std::string s(std::min(max, dirs[1 - r].in.size()), '\0');
    s.resize(Take(r, reinterpret_cast<uint8_t*>(s.data()), s.size()));
    return s;
  }

  // Sets an input of end e; wakes it when the value changes.
  // CTS may hold or release the end's transmitter, which the far end awaits.
  void SetInput(int e, bool EndState::*input, bool on) {
    if (ends[e].*input == on) return;
    ends[e].*input = on;
    Signal(e);
    if (input == &EndState::cts) Signal(1 - e);
  }

  void SetFlow(int e, const TDcb& dcb) {
    EndState& s = ends[e];
    s.ctsFlow = dcb.fOutxCtsFlow;
    s.outX = dcb.fOutX;
    s.xoffHeld = s.xoffHeld && s.outX;
    s.xon = dcb.XonChar;
    s.xoff = dcb.XoffChar;
    AdvanceAll();
    SignalBoth();
  }
  void SetRts(int e, bool on) {
    if (ends[e].rts == on) return;
    ends[e].rts = on;
    SetInput(1 - e, &EndState::cts, on);
  }
  void SetDtr(int e, bool on) {
    if (ends[e].dtr == on) return;
    ends[e].dtr = on;
    SetInput(1 - e, &EndState::dsr, on);
    SetInput(1 - e, &EndState::rlsd, on);
  }

  uint32_t Status(int e) const {
    const EndState& s = ends[e];
    return (s.cts ? MS_CTS_ON : 0) | (s.dsr ? MS_DSR_ON : 0) | (s.ring ? MS_RING_ON : 0) |
           (s.rlsd ? MS_RLSD_ON : 0);
  }

  void Purge(int e) {
    AdvanceAll();
    dirs[1 - e].in.clear();
    dirs[e].out.clear();
    AdvanceAll();  // the far transmitter may go on now
    Signal(0);
    Signal(1);
  }

  void PurgeOutput(int e) {
    AdvanceAll();
    dirs[e].out.clear();
    Signal(e);
  }

  // A closed end drives nothing: the far end loses CTS, DSR and RLSD even
  // where they had been set directly.
  void CloseEnd(int e) {
    EndState& s = ends[e];
    s.open = false;
    s.rts = false;
    s.dtr = false;
    s.inCapacity = 0;
    s.outCapacity = kDefaultOutCapacity;
    s.ctsFlow = s.outX = s.xoffHeld = false;
    SetInput(1 - e, &EndState::cts, false);
    SetInput(1 - e, &EndState::dsr, false);
    SetInput(1 - e, &EndState::rlsd, false);
    AdvanceAll();  // the capacity may have changed
    Signal(0);
    Signal(1);
  }

  std::string name;
  std::mutex mutex;
  std::condition_variable changed;  // notified with every Signal
  Options options;
  Nanos interval{0};
  Direction dirs[2];
  EndState ends[2];
};

// One end of a virtual line opened as a device. Every member takes the line's
// mutex; after Close every member fails cleanly, and the end may be opened
// again by someone else without this object noticing.
class VirtualDevice final : public SerialDevice {
 public:
  VirtualDevice(std::shared_ptr<VirtualLine> line, int index)
      : line_(std::move(line)), x_(*line_->impl_), index_(index) {}
  ~VirtualDevice() override { Close(); }

  void SetupQueues(size_t inSize, size_t outSize) override {
    Do([&] {
      auto& end = x_.ends[index_];
      end.inCapacity = inSize;  // 0 keeps the line's default
      end.outCapacity = outSize ? outSize : kDefaultOutCapacity;
      x_.AdvanceAll();  // a larger capacity lets the far end go on
      x_.Signal(0);
      x_.Signal(1);
    });
  }

  bool ApplyDcb(const TDcb& dcb) override {
    return IfOpen(false, [&] {
      if (!Valid(dcb)) {
        errno = EINVAL;
        return false;
      }
      dcb_ = dcb;
      x_.SetFlow(index_, dcb);
      x_.SetRts(index_,
                dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
      x_.SetDtr(index_,
                dcb.fDtrControl == DTR_CONTROL_ENABLE || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE);
      return true;
    });
  }

  TDcb Dcb() const override {
    std::lock_guard lock(x_.mutex);
    return dcb_;
  }

  long ReadSome(uint8_t* buffer, size_t count) override {
    return IfOpen(-1L, [&] { return static_cast<long>(x_.Take(index_, buffer, count)); });
  }

  long WriteSome(const uint8_t* buffer, size_t count) override {
    return IfOpen(-1L, [&] {
      const size_t queued = x_.dirs[index_].out.size();
      const size_t capacity = x_.ends[index_].outCapacity;
      const size_t n = std::min(count, capacity > queued ? capacity - queued : 0);
      if (n > 0) x_.Queue(index_, buffer, n);
      return static_cast<long>(n);
    });
  }

  size_t InQueue() override {
    return IfOpen(size_t{0}, [&] { return x_.dirs[1 - index_].in.size(); });
  }
  size_t OutQueue() override {
    return IfOpen(size_t{0}, [&] { return x_.dirs[index_].out.size(); });
  }
  uint32_t ModemStatus() override {
    return IfOpen(uint32_t{0}, [&] { return x_.Status(index_); });
  }
  void SetDtr(bool on) override {
    Do([&] { x_.SetDtr(index_, on); });
  }
  void SetRts(bool on) override {
    Do([&] { x_.SetRts(index_, on); });
  }
  void Purge() override {
    Do([&] { x_.Purge(index_); });
  }
  void PurgeOutput() override {
    Do([&] { x_.PurgeOutput(index_); });
  }
  LineErrorCounts ErrorCounts() override { return {}; }
  bool HungUp() override { return false; }

  void WaitEvent(int wakeFd, int timeoutMs, bool wantInput) override;
  void WaitOutputRoom(int timeoutMs) override;
  // The line's own pace, whatever speed the block names.
  int64_t SendTimeUs(size_t bytes) const override {
    std::lock_guard lock(x_.mutex);
    return static_cast<int64_t>(bytes) * x_.interval.count() / 1000;
  }

  void Close() override {
    std::lock_guard lock(x_.mutex);
    if (std::exchange(closed_, true)) return;
    x_.CloseEnd(index_);
  }

 private:
  // Sleeps while the end is held (HoldWait); false when the wait must end
  // without looking at the line (closed, or woken by the caller).
  bool ParkWhileHeld(int wakeFd);
  // A block no UART could run is refused, as SetCommState refuses it.
  static bool Valid(const TDcb& dcb) {
    return dcb.BaudRate > 0 && dcb.ByteSize >= 4 && dcb.ByteSize <= 8 && dcb.Parity <= 4 &&
           dcb.StopBits <= 2 && dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE &&
           dcb.fRtsControl <= RTS_CONTROL_TOGGLE;
  }

  // Runs f on the line brought up to now; once closed, fails with EBADF and
  // answers `closed` instead.
  template <typename R, typename F>
  R IfOpen(R closed, F f) {
    std::lock_guard lock(x_.mutex);
    if (closed_) {
      errno = EBADF;
      return closed;
    }
    x_.AdvanceAll();
    return f();
  }
  template <typename F>
  void Do(F f) {
    std::lock_guard lock(x_.mutex);
    if (closed_) return;
    x_.AdvanceAll();
    f();
  }

  const std::shared_ptr<VirtualLine> line_;  // keeps x_ alive
  VirtualLine::Impl& x_;
  const int index_;
  bool closed_ = false;  // guarded by x_.mutex
  TDcb dcb_;             // guarded by x_.mutex
};

// A held wait sleeps on the end's signal and the caller's wake-up only, and
// looks at nothing on the line until it is released.
bool VirtualDevice::ParkWhileHeld(int wakeFd) {
  for (;;) {
    int eventFd;
    {
      std::lock_guard lock(x_.mutex);
      auto& end = x_.ends[index_];
      if (closed_ || !end.held) {
        end.parked = false;
        return !closed_;
      }
      if (!end.parked) {
        end.parked = true;
        x_.changed.notify_all();
      }
      eventFd = end.eventFd;
    }
    pollfd fds[2] = {{eventFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    poll(fds, wakeFd >= 0 ? 2 : 1, -1);
    Drain(eventFd);
    if (fds[1].revents) {
      std::lock_guard lock(x_.mutex);
      x_.ends[index_].parked = false;
      return false;
    }
  }
}

void VirtualDevice::WaitEvent(int wakeFd, int timeoutMs, bool wantInput) {
  if (!ParkWhileHeld(wakeFd)) return;
  int eventFd;
  int waitMs = timeoutMs;
  {
    std::lock_guard lock(x_.mutex);
    if (closed_ || x_.ends[index_].held) return;
    const TimePoint now = x_.AdvanceAll();
    if (wantInput && !x_.dirs[1 - index_].in.empty()) return;
    // Bytes that fall due and an output queue that runs dry give no signal
    // of their own: sleep no longer than until then.
    std::optional<TimePoint> due = x_.DrainTime(index_);
    if (wantInput) due = Earliest(due, x_.NextArrival(1 - index_));
    if (due) {
      const int dueMs = MsUntil(*due, now);
      waitMs = timeoutMs < 0 ? dueMs : std::min(dueMs, timeoutMs);
    }
    eventFd = x_.ends[index_].eventFd;  // lives as long as the line
  }
  pollfd fds[2] = {{eventFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  poll(fds, wakeFd >= 0 ? 2 : 1, waitMs);
  // The caller looks at the whole state after every return, so a signal that
  // lands between the wake-up and this drain is not lost.
  Drain(eventFd);
}

void VirtualDevice::WaitOutputRoom(int timeoutMs) {
  std::unique_lock lock(x_.mutex);
  const TimePoint start = x_.AdvanceAll();
  const std::optional<TimePoint> deadline =
      timeoutMs < 0 ? std::nullopt : std::optional(start + std::chrono::milliseconds(timeoutMs));
  const size_t before = x_.dirs[index_].out.size();
  for (;;) {
    if (closed_) return;
    const TimePoint now = x_.AdvanceAll();
    const size_t queued = x_.dirs[index_].out.size();
    if (queued == 0 || queued < before || (deadline && now >= *deadline)) return;
    // Like a UART's transmit FIFO, a paced line makes room in steps of about
    // a millisecond rather than waking the writer for every byte.
    std::optional<TimePoint> wake = x_.NextDeparture(index_);
    if (wake) wake = std::max(*wake, now + std::chrono::milliseconds(1));
    wake = Earliest(deadline, wake);
    if (wake)
      x_.changed.wait_until(lock, *wake);
    else
      x_.changed.wait(lock);
  }
}

// Direct access to an end: what a device at that end would do, without one.
void VirtualLine::End::Write(std::string_view bytes) {
  line_->impl_->Locked([&](Impl& x) {
    x.Queue(index_, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  });
}

std::string VirtualLine::End::Read(size_t max) {
  return line_->impl_->Locked([&](Impl& x) { return x.TakeString(index_, max); });
}

// Takes bytes as they come, so that a count beyond the input capacity is
// reached rather than waited for in vain.
std::string VirtualLine::End::ReadFor(size_t count, std::chrono::milliseconds timeout) {
  Impl& x = *line_->impl_;
  std::unique_lock lock(x.mutex);
  const TimePoint deadline = Clock::now() + std::max(timeout, std::chrono::milliseconds{0});
  std::string got;
  for (;;) {
    const TimePoint now = x.AdvanceAll();
    got += x.TakeString(index_, count - got.size());
    if (got.size() >= count || now >= deadline) return got;
    if (!x.dirs[1 - index_].in.empty()) continue;  // came in as room was made
    const TimePoint due = x.NextArrival(1 - index_).value_or(deadline);
    x.changed.wait_until(lock, std::min(deadline, due));
  }
}

size_t VirtualLine::End::Available() {
  return line_->impl_->Locked([&](Impl& x) { return x.dirs[1 - index_].in.size(); });
}
size_t VirtualLine::End::Pending() {
  return line_->impl_->Locked(
      [&](Impl& x) { return x.dirs[index_].out.size() + x.dirs[index_].wire.size(); });
}
void VirtualLine::End::SetRts(bool on) {
  line_->impl_->Locked([&](Impl& x) { x.SetRts(index_, on); });
}
void VirtualLine::End::SetDtr(bool on) {
  line_->impl_->Locked([&](Impl& x) { x.SetDtr(index_, on); });
}
void VirtualLine::End::SetFarCts(bool on) {
  line_->impl_->Locked([&](Impl& x) { x.SetInput(1 - index_, &Impl::EndState::cts, on); });
}
void VirtualLine::End::SetFarDsr(bool on) {
  line_->impl_->Locked([&](Impl& x) { x.SetInput(1 - index_, &Impl::EndState::dsr, on); });
}
void VirtualLine::End::SetFarRlsd(bool on) {
  line_->impl_->Locked([&](Impl& x) { x.SetInput(1 - index_, &Impl::EndState::rlsd, on); });
}
void VirtualLine::End::SetFarRing(bool on) {
  line_->impl_->Locked([&](Impl& x) { x.SetInput(1 - index_, &Impl::EndState::ring, on); });
}
uint32_t VirtualLine::End::ModemStatus() {
  return line_->impl_->Locked([&](Impl& x) { return x.Status(index_); });
}
bool VirtualLine::End::Rts() {
  return line_->impl_->Locked([&](Impl& x) { return x.ends[index_].rts; });
}
bool VirtualLine::End::Dtr() {
  return line_->impl_->Locked([&](Impl& x) { return x.ends[index_].dtr; });
}
bool VirtualLine::End::IsOpen() {
  return line_->impl_->Locked([&](Impl& x) { return x.ends[index_].open; });
}

void VirtualLine::End::HoldWait() {
  Impl& x = *line_->impl_;
  std::unique_lock lock(x.mutex);
  x.ends[index_].held = true;
  x.Signal(index_);  // a wait in progress returns and parks on its next call
  x.changed.wait(lock, [&] { return x.ends[index_].parked || !x.ends[index_].open; });
}

void VirtualLine::End::ReleaseWait() {
  line_->impl_->Locked([&](Impl& x) {
    x.ends[index_].held = false;
    x.Signal(index_);
  });
}

// The registry of named lines.
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<VirtualLine>, std::less<>> lines;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

VirtualLine::VirtualLine(const std::string& name, Options options)
    : impl_(std::make_unique<Impl>(name, options)), ends_{End(this, 0), End(this, 1)} {}

VirtualLine::~VirtualLine() = default;

std::shared_ptr<VirtualLine> VirtualLine::Create(const std::string& name, Options options) {
  std::shared_ptr<VirtualLine> line(new VirtualLine(name, options));
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  if (!registry.lines.emplace(name, line).second)
    throw std::invalid_argument("virtual line \"" + name + "\" exists already");
  return line;
}

std::shared_ptr<VirtualLine> VirtualLine::Find(const std::string& name) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.lines.find(name);
  return it == registry.lines.end() ? nullptr : it->second;
}

void VirtualLine::Remove(const std::string& name) {
  std::shared_ptr<VirtualLine> doomed;  // destroyed outside the registry's lock
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  if (auto it = registry.lines.find(name); it != registry.lines.end()) {
    doomed = std::move(it->second);
    registry.lines.erase(it);
  }
}

VirtualLine::End& VirtualLine::end(int index) {
  if (index != 0 && index != 1) throw std::out_of_range("a virtual line has ends 0 and 1");
  return ends_[index];
}

const std::string& VirtualLine::name() const { return impl_->name; }

void VirtualLine::SetOptions(Options options) {
  std::lock_guard lock(impl_->mutex);
  impl_->AdvanceAll();  // what has been sent so far went at the old settings
  impl_->ApplyOptions(options);
  impl_->AdvanceAll();
  impl_->Signal(0);
  impl_->Signal(1);
}

std::shared_ptr<SerialDevice> VirtualLine::OpenEnd(int index) {
  if (index != 0 && index != 1) {
    errno = EINVAL;
    return nullptr;
  }
  std::lock_guard lock(impl_->mutex);
  Impl::EndState& end = impl_->ends[index];
  if (end.open) {
    errno = EBUSY;
    return nullptr;
  }
  auto device = std::make_shared<VirtualDevice>(shared_from_this(), index);
  end.open = true;
  Drain(end.eventFd);  // signals meant for an earlier device
  return device;
}
