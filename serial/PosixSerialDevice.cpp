// The termios device. Each line setting is a small function on a termios
// record; the record found at open is saved and put back at close.
//
// Threading: the descriptor is guarded by a shared mutex. Every operation
// holds it shared for as long as it uses the descriptor, waits included;
// Close() first signals an eventfd that every wait also watches, so waits end
// at once, and then takes the mutex exclusively to close the descriptor.
// Flags read across threads are atomics.

#include "PosixSerialDevice.h"

#include "ModemWait.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

// Speeds without a B-constant (PosixSpeed.cpp; termios2 can't live here).
bool ReadLineSpeed(int fd, uint32_t* speed, bool* custom);
bool WriteCustomLineSpeed(int fd, uint32_t speed);

namespace {

using Clock = std::chrono::steady_clock;

// Where the driver reports line changes (TIOCMIWAIT) the lines and error
// counters are still looked at once a second: the counters give no wake-up,
// and a change in the instant between two waits of the driver is missed.
constexpr auto kNotifiedLinesEvery = std::chrono::milliseconds(1000);
// Where it does not, they are looked at four times a second: a carrier loss
// is seen a quarter of a second late at worst, which nobody at a terminal
// notices, and an idle port wakes four times a second instead of a hundred.
constexpr auto kPolledLinesEvery = std::chrono::milliseconds(250);
constexpr auto kPtyPollInterval =
    std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(5));
constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;
// A writer that finds no room waits this long at first, twice as long each
// time the queue still has not moved, and at most the longest pause (or the
// time the line needs to send what waits, when that is longer).
constexpr int64_t kFirstPauseUs = 50;
constexpr int64_t kLongestPauseUs = 1000;

struct StandardSpeed {
  uint32_t bitsPerSecond;
  speed_t code;
};

constexpr StandardSpeed kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool StandardSpeedCode(uint32_t bitsPerSecond, speed_t* code) {
  for (const StandardSpeed& s : kStandardSpeeds) {
    if (s.bitsPerSecond == bitsPerSecond) {
      *code = s.code;
      return true;
    }
  }
  return false;
}

// 4 data bits have no termios form; 5 is the nearest.
void SetDataBits(termios& t, uint8_t byteSize) {
  t.c_cflag &= ~CSIZE;
  switch (byteSize) {
    case 4:
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    default:
      t.c_cflag |= CS8;
      break;
  }
}

// Mark and space are stick parity: CMSPAR with PARODD fixes the bit at 1,
// without it at 0.
void SetParity(termios& t, uint8_t parity) {
  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (parity) {
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
    case 3:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
}

// One and a half stop bits have no termios form; two is the nearest.
void SetStopBits(termios& t, uint8_t stopBits) {
  if (stopBits == 0) {
    t.c_cflag &= ~CSTOPB;
  } else {
    t.c_cflag |= CSTOPB;
  }
}

// DTR/DSR flow and the RTS toggle of half duplex have no termios form: the
// block keeps them, the line runs without.
void SetFlowControl(termios& t, const TDcb& dcb) {
  if (dcb.fOutxCtsFlow) {
    t.c_cflag |= CRTSCTS;
  } else {
    t.c_cflag &= ~CRTSCTS;
  }
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (dcb.fOutX) t.c_iflag |= IXON;
  if (dcb.fInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = dcb.XonChar;
  t.c_cc[VSTOP] = dcb.XoffChar;
}

// Bytes pass untouched, the modem lines do not gate the port, and a read
// returns at once with what is there.
void SetRaw(termios& t) {
  cfmakeraw(&t);
  t.c_iflag &= ~(IXOFF | IXANY);
  t.c_cflag &= ~CRTSCTS;
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

bool ValidDcb(const TDcb& dcb) {
  return dcb.BaudRate > 0 && dcb.ByteSize >= 4 && dcb.ByteSize <= 8 && dcb.Parity <= 4 &&
         dcb.StopBits <= 2 && dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE &&
         dcb.fRtsControl <= RTS_CONTROL_TOGGLE;
}

// A driver takes a speed it cannot run without an error and runs the
// nearest it has, or the old one: what counts is the speed read back. It
// may differ by the 2 % a UART tolerates.
bool RunsAtSpeed(int fd, uint32_t wanted) {
  uint32_t speed = 0;
  bool custom = false;
  if (!ReadLineSpeed(fd, &speed, &custom)) return false;
  const uint64_t off = speed > wanted ? speed - wanted : wanted - speed;
  return off * 50 <= wanted;
}

// Errors of a line whose other side has gone (a closed pty master, an
// unplugged adapter).
bool IsGone(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

bool IsTransient(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

bool SetModemLine(int fd, int line, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

// A pty has no transmit queue to ask about (TIOCOUTQ says 0 however much
// its reader lags) and its flush cannot reach what the reader's line buffer
// already holds. What was written is counted down at the line's speed, and
// once the reader is seen to take bytes at the line's speed (a relay or a
// modem pacing it), that count stands for the queue a serial port would
// report. The reader's speed shows while the pty is full: a writer that
// keeps it full gets room only as fast as the reader takes bytes. A reader
// that is faster or slower, or one that stopped, keeps the pty as it is.
class PtyOutput {
 public:
  void Wrote(size_t bytes, bool full, int64_t byteTimeNs) {
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    Drain(now, byteTimeNs);
    queued_ += static_cast<double>(bytes);
    if (paced_) return;
    if (!sampling_) {
      sampling_ = full;
      sampleFrom_ = now;
      sampled_ = 0;
      return;
    }
    sampled_ += bytes;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - sampleFrom_).count();
    if (ns < kSampleNs) return;
    const double lineBytes = static_cast<double>(ns) / static_cast<double>(byteTimeNs);
    const double ratio = static_cast<double>(sampled_) / lineBytes;
    paced_ = ratio > 0.75 && ratio < 1.5;
    sampling_ = false;
    // What the full pty holds is unknown until a purge has left only the
    // reader's line buffer, itself full then.
    if (paced_) {
      queued_ = 0;
      unknown_ = true;
    }
  }
  bool Paced() const {
    std::lock_guard lock(mutex_);
    return paced_;
  }
  // The count while the reader goes at the line's speed, else nothing.
  size_t Queued(int64_t byteTimeNs) {
    std::lock_guard lock(mutex_);
    Drain(Clock::now(), byteTimeNs);
    return paced_ ? static_cast<size_t>(queued_) : 0;
  }
  // A purge leaves what the reader's line buffer holds: what was queued, up
  // to its size.
  void Dropped() {
    std::lock_guard lock(mutex_);
    queued_ = unknown_ ? kReaderHolds : std::min(queued_, kReaderHolds);
    unknown_ = false;
    sampling_ = false;  // the pty has room again: a sample starts when it is full
  }

 private:
  static constexpr int64_t kSampleNs = 250'000'000;
  static constexpr double kReaderHolds = 4096;  // the line discipline's buffer

  void Drain(Clock::time_point now, int64_t byteTimeNs) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - at_).count();
    at_ = now;
    queued_ = std::max(0.0, queued_ - static_cast<double>(ns) / static_cast<double>(byteTimeNs));
  }

  mutable std::mutex mutex_;
  double queued_ = 0;
  bool paced_ = false;
  bool unknown_ = false;  // the pty was full when the count began
  bool sampling_ = false;
  Clock::time_point sampleFrom_;
  size_t sampled_ = 0;
  Clock::time_point at_ = Clock::now();
};

// What the line held when we found it, to be put back at close.
struct SavedLine {
  termios settings{};
  uint32_t speed = 0;
  bool customSpeed = false;
  bool modemLines = false;
};

class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice(int fd, int closeEvent, const SavedLine& saved)
      : fd_(fd), closeEvent_(closeEvent), saved_(saved) {
    if (saved_.modemLines) modemWait_ = std::make_unique<ModemWait>(fd_);
  }
  ~PosixSerialDevice() override {
    Close();
    close(closeEvent_);
  }
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  // The kernel's queues have fixed sizes; TComm enforces its own limit.
  void SetupQueues(size_t, size_t) override {}
  bool ApplyDcb(const TDcb& dcb) override;
  TDcb Dcb() const override {
    std::lock_guard lock(dcbMutex_);
    return dcb_;
  }
  long ReadSome(uint8_t* buffer, size_t count) override;
  long WriteSome(const uint8_t* buffer, size_t count) override;
  size_t InQueue() override;
  size_t OutQueue() override;
  uint32_t ModemStatus() override;
  void SetDtr(bool on) override;
  void SetRts(bool on) override;
  void Purge() override;
  void PurgeOutput() override;
  bool PurgeReachesQueue() const override { return saved_.modemLines; }
  LineErrorCounts ErrorCounts() override;
  bool HungUp() override;
  void WaitEvent(int wakeFd, int timeoutMs, bool wantInput) override;
  bool TakeLineChange() override;
  void WaitOutputRoom(int timeoutMs) override;
  int64_t SendTimeUs(size_t bytes) const override;
  void Close() override;

 private:
  using Access = std::shared_lock<std::shared_mutex>;

  // Holds the descriptor open for one operation; owns nothing once closing,
  // so a stream of callers can't keep Close() waiting.
  Access Use() {
    if (closing_) return {};
    Access lock(mutex_);
    if (fd_ < 0) return {};
    return lock;
  }
  bool TransferAllowed(const Access& access) const;
  int64_t ByteTimeNs() const { return std::max<int64_t>(SendTimeUs(1000), 1); }
  bool ApplyLineSettings(const TDcb& dcb);
  bool PtyTookTheRest(const termios& wanted);
  bool ApplyModemControls(const TDcb& dcb);
  // The events the descriptor reports right now; records a hang-up.
  short PollNow(short events);
  long Failure(int err);
  void RecordHangUp() {
    if (hungUp_.exchange(true)) return;
    hangUpUnseen_ = true;
    linesDue_ = true;
  }
  // How often the lines are looked at while nothing else happens.
  std::chrono::milliseconds LineCheckEvery() const {
    return modemWait_->Watching() ? kNotifiedLinesEvery : kPolledLinesEvery;
  }
  // Callers may ask for the lines often; on a pty the answer only changes
  // at a hang-up, which every wait reports anyway. Looking at most once per
  // interval keeps a poll() off every call.
  bool PtyPollDue() {
    const int64_t now = Clock::now().time_since_epoch().count();
    int64_t due = nextPtyPoll_.load();
    return now >= due && nextPtyPoll_.compare_exchange_strong(due, now + kPtyPollInterval.count());
  }

  std::shared_mutex mutex_;  // shared while fd_ is in use, exclusive to close it
  int fd_;
  const int closeEvent_;  // readable once Close() has begun
  const SavedLine saved_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> hungUp_{false};
  // A hang-up that no WaitEvent has returned for yet: the next one returns at
  // once so that the watcher sees the carrier go, even when another call
  // noticed the hang-up first.
  std::atomic<bool> hangUpUnseen_{false};
  std::atomic<int64_t> nextPtyPoll_{0};
  std::unique_ptr<ModemWait> modemWait_;         // on devices with modem lines
  std::atomic<bool> linesDue_{false};            // a hang-up waits to be looked at
  std::atomic<int64_t> nextLineCheck_{0};        // steady-clock ticks
  std::atomic<int64_t> pauseUs_{kFirstPauseUs};  // the next wait for room
  std::atomic<bool> noErrorCounts_{false};
  PtyOutput ptyOutput_;  // on a pty: what its reader has not taken yet, modelled
  mutable std::mutex dcbMutex_;
  TDcb dcb_;
};

bool PosixSerialDevice::ApplyDcb(const TDcb& dcb) {
  if (!ValidDcb(dcb)) {
    errno = EINVAL;
    return false;
  }
  Access access = Use();
  if (!access) {
    errno = EBADF;
    return false;
  }
  std::lock_guard lock(dcbMutex_);
  if (!ApplyLineSettings(dcb) || !ApplyModemControls(dcb)) {
    const int error = errno;
    ApplyLineSettings(dcb_);  // the line goes back to the block it ran
    errno = error;
    return false;
  }
  dcb_ = dcb;
  return true;
}

// Reads the line's settings back and changes only what the block governs.
bool PosixSerialDevice::ApplyLineSettings(const TDcb& dcb) {
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return false;
  SetDataBits(t, dcb.ByteSize);
  SetParity(t, dcb.Parity);
  SetStopBits(t, dcb.StopBits);
  SetFlowControl(t, dcb);
  t.c_cflag |= CLOCAL | CREAD;
  // A custom speed keeps the speed read back until termios2 replaces it, so
  // the line never runs at some unrelated rate in between.
  speed_t code = 0;
  const bool standard = StandardSpeedCode(dcb.BaudRate, &code);
  if (standard && cfsetspeed(&t, code) != 0) return false;
  if (tcsetattr(fd_, TCSANOW, &t) != 0 && !(errno == EINVAL && PtyTookTheRest(t))) return false;
  if (!standard && !WriteCustomLineSpeed(fd_, dcb.BaudRate)) return false;
  if (RunsAtSpeed(fd_, dcb.BaudRate)) return true;
  errno = EINVAL;
  return false;
}

// A pty always runs CS8 without parity. When a change asks only for data
// bits or parity enable, the C library reads the line back, sees them
// missing and reports EINVAL although the kernel took the record. On a line
// without modem lines that is no failure as long as everything else holds.
bool PosixSerialDevice::PtyTookTheRest(const termios& wanted) {
  constexpr tcflag_t kForced = CSIZE | PARENB;
  termios now{};
  if (saved_.modemLines || tcgetattr(fd_, &now) != 0) return false;
  return (now.c_cflag & ~kForced) == (wanted.c_cflag & ~kForced) && now.c_iflag == wanted.c_iflag &&
         now.c_oflag == wanted.c_oflag && now.c_lflag == wanted.c_lflag &&
         now.c_cc[VSTART] == wanted.c_cc[VSTART] && now.c_cc[VSTOP] == wanted.c_cc[VSTOP];
}

// RTS toggling has no Linux form and leaves RTS as it is.
bool PosixSerialDevice::ApplyModemControls(const TDcb& dcb) {
  if (!saved_.modemLines) return true;  // a pty has no lines to drive
  if (!SetModemLine(fd_, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE)) return false;
  if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) return true;
  return SetModemLine(fd_, TIOCM_RTS, dcb.fRtsControl != RTS_CONTROL_DISABLE);
}

short PosixSerialDevice::PollNow(short events) {
  pollfd p{fd_, events, 0};
  if (poll(&p, 1, 0) <= 0) return 0;
  if (p.revents & kGoneEvents) RecordHangUp();
  return p.revents;
}

long PosixSerialDevice::Failure(int err) {
  if (IsTransient(err)) return 0;
  if (IsGone(err)) RecordHangUp();
  errno = err;
  return -1;
}

// Bytes move only on an open line that has not hung up; errno says which.
bool PosixSerialDevice::TransferAllowed(const Access& access) const {
  if (!access) {
    errno = EBADF;
    return false;
  }
  if (hungUp_) {
    errno = EIO;
    return false;
  }
  return true;
}

long PosixSerialDevice::ReadSome(uint8_t* buffer, size_t count) {
  Access access = Use();
  if (!TransferAllowed(access)) return -1;
  if (count == 0) return 0;
  const ssize_t n = read(fd_, buffer, count);
  if (n > 0) return n;
  if (n < 0) return Failure(errno);
  // With VMIN and VTIME at 0 an empty queue reads as 0, and so does a line
  // that has hung up; only poll tells them apart.
  if (PollNow(0) & kGoneEvents) {
    errno = EIO;
    return -1;
  }
  return 0;
}

long PosixSerialDevice::WriteSome(const uint8_t* buffer, size_t count) {
  Access access = Use();
  if (!TransferAllowed(access)) return -1;
  if (count == 0) return 0;
  const ssize_t n = write(fd_, buffer, count);
  const int err = errno;
  if (n > 0) pauseUs_ = kFirstPauseUs;
  if (!saved_.modemLines) {
    const bool full = (n >= 0 && static_cast<size_t>(n) < count) || (n < 0 && err == EAGAIN);
    ptyOutput_.Wrote(n > 0 ? static_cast<size_t>(n) : 0, full, ByteTimeNs());
  }
  return n >= 0 ? n : Failure(err);
}

size_t PosixSerialDevice::InQueue() {
  Access access = Use();
  if (!access || hungUp_) return 0;
  int n = 0;
  if (ioctl(fd_, FIONREAD, &n) != 0) {
    Failure(errno);
    return 0;
  }
  // Bytes can still be on their way from the driver into the count; poll
  // hands them over, so ask once more when it says input is there.
  if (n == 0 && (PollNow(POLLIN) & POLLIN) && ioctl(fd_, FIONREAD, &n) != 0) return 0;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t PosixSerialDevice::OutQueue() {
  Access access = Use();
  if (!access || hungUp_) return 0;
  if (!saved_.modemLines) return ptyOutput_.Queued(ByteTimeNs());
  int n = 0;
  if (ioctl(fd_, TIOCOUTQ, &n) != 0) {
    Failure(errno);
    return 0;
  }
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// A pty has no modem lines: its cable is "connected" while the other side is
// there.
uint32_t PosixSerialDevice::ModemStatus() {
  Access access = Use();
  if (!access) return 0;
  if (!saved_.modemLines) {
    if (!hungUp_ && PtyPollDue()) PollNow(0);
    return MS_CTS_ON | MS_DSR_ON | (hungUp_ ? 0 : MS_RLSD_ON);
  }
  if (hungUp_) return 0;
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    Failure(errno);
    return 0;
  }
  uint32_t status = 0;
  if (lines & TIOCM_CTS) status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) status |= MS_DSR_ON;
  if (lines & TIOCM_RNG) status |= MS_RING_ON;
  if (lines & TIOCM_CAR) status |= MS_RLSD_ON;
  return status;
}

// Failures are ignored: a pty has no lines, a hung-up line no longer cares.
void PosixSerialDevice::SetDtr(bool on) {
  Access access = Use();
  if (access) SetModemLine(fd_, TIOCM_DTR, on);
}

void PosixSerialDevice::SetRts(bool on) {
  Access access = Use();
  if (access) SetModemLine(fd_, TIOCM_RTS, on);
}

void PosixSerialDevice::Purge() {
  Access access = Use();
  if (!access) return;
  tcflush(fd_, TCIOFLUSH);
  ptyOutput_.Dropped();
}

void PosixSerialDevice::PurgeOutput() {
  Access access = Use();
  if (!access) return;
  tcflush(fd_, TCOFLUSH);
  ptyOutput_.Dropped();
}

LineErrorCounts PosixSerialDevice::ErrorCounts() {
  Access access = Use();
  serial_icounter_struct icount{};
  if (!access || noErrorCounts_) return {};
  if (ioctl(fd_, TIOCGICOUNT, &icount) != 0) {
    if (errno == ENOTTY || errno == EINVAL) noErrorCounts_ = true;  // a pty, or no driver support
    return {};
  }
  LineErrorCounts counts;
  counts.frame = icount.frame;
  counts.overrun = icount.overrun;
  counts.parity = icount.parity;
  counts.brk = icount.brk;
  counts.bufOverrun = icount.buf_overrun;
  return counts;
}

bool PosixSerialDevice::HungUp() {
  if (hungUp_) return true;
  Access access = Use();
  if (access) PollNow(0);
  return hungUp_;
}

// Once hung up the device is left out of the wait: it would report the
// hang-up again and again and turn the watcher's loop into a spin.
void PosixSerialDevice::WaitEvent(int wakeFd, int timeoutMs, bool wantInput) {
  Access access = Use();
  if (!access) return;
  if (hangUpUnseen_.exchange(false)) return;
  const bool watchDevice = !hungUp_;
  const int lineEvent = modemWait_ ? modemWait_->EventFd() : -1;
  pollfd fds[4] = {{closeEvent_, POLLIN, 0},
                   {watchDevice ? fd_ : -1, static_cast<short>(wantInput ? POLLIN : 0), 0},
                   {wakeFd, POLLIN, 0},
                   {lineEvent, POLLIN, 0}};
  if (saved_.modemLines && watchDevice) {
    const int every = static_cast<int>(LineCheckEvery().count());
    timeoutMs = timeoutMs < 0 ? every : std::min(timeoutMs, every);
  }
  if (poll(fds, 4, timeoutMs) <= 0) return;
  if (fds[1].revents & kGoneEvents) {
    RecordHangUp();
    hangUpUnseen_ = false;  // this return reports it
  }
  if (fds[3].revents & POLLIN) modemWait_->Drain();
}

// A pty's lines change only when it hangs up. A device with lines is looked
// at when the driver reported a change, and on the slow timer.
bool PosixSerialDevice::TakeLineChange() {
  bool due = linesDue_.exchange(false);
  if (!saved_.modemLines || hungUp_) return due;
  if (modemWait_->TakeChange()) due = true;
  const int64_t now = Clock::now().time_since_epoch().count();
  if (now >= nextLineCheck_.load()) {
    nextLineCheck_ = now + std::chrono::duration_cast<Clock::duration>(LineCheckEvery()).count();
    due = true;
  }
  return due;
}

void PosixSerialDevice::WaitOutputRoom(int timeoutMs) {
  Access access = Use();
  if (!access || hungUp_) return;
  if (!saved_.modemLines && ptyOutput_.Paced()) {
    // The pty says writable while the line would still be sending: the
    // caller's wait (at most the time its bytes need) is the answer.
    pollfd fds[2] = {{closeEvent_, POLLIN, 0}, {fd_, 0, 0}};
    if (poll(fds, 2, timeoutMs) > 0 && (fds[1].revents & kGoneEvents)) RecordHangUp();
    return;
  }
  int before = 0;
  ioctl(fd_, TIOCOUTQ, &before);
  const auto start = Clock::now();
  pollfd fds[2] = {{closeEvent_, POLLIN, 0}, {fd_, POLLOUT, 0}};
  if (poll(fds, 2, timeoutMs) <= 0 || fds[0].revents) return;
  if (fds[1].revents & kGoneEvents) {
    RecordHangUp();
    return;
  }
  int after = 0;
  ioctl(fd_, TIOCOUTQ, &after);
  if (after < before || Clock::now() - start >= std::chrono::milliseconds(1)) return;
  // Writable at once while the queue has not moved: a tty says writable
  // below its wake-up mark, which may still be more than the caller allows,
  // and a pty says so even when its reader lags. Give the line the time to
  // send what waits rather than asking again at once. A pty's reader takes
  // bytes as fast as it can: the first pauses are short, so that a writer
  // streaming into it is not held back, and they grow while it lags.
  const int64_t lag = pauseUs_.load();
  pauseUs_ = std::min(lag * 2, kLongestPauseUs);
  int64_t pause = std::max(lag, SendTimeUs(static_cast<size_t>(std::max(after, 0))));
  if (timeoutMs >= 0) pause = std::min(pause, int64_t{timeoutMs} * 1000);
  const timespec wait{static_cast<time_t>(pause / 1'000'000),
                      static_cast<long>(pause % 1'000'000) * 1000};
  pollfd closing{closeEvent_, POLLIN, 0};
  ppoll(&closing, 1, &wait, nullptr);
}

int64_t PosixSerialDevice::SendTimeUs(size_t bytes) const {
  const TDcb dcb = Dcb();
  const uint64_t bitsPerByte =
      1 + std::max<uint64_t>(dcb.ByteSize, 5) + (dcb.Parity ? 1 : 0) + (dcb.StopBits ? 2 : 1);
  const uint64_t us = (bytes * bitsPerByte * 1'000'000 + dcb.BaudRate - 1) / dcb.BaudRate;
  return static_cast<int64_t>(std::min<uint64_t>(us, 60'000'000));
}

void PosixSerialDevice::Close() {
  closing_ = true;
  const uint64_t one = 1;
  if (write(closeEvent_, &one, sizeof one) < 0) {
    // Only fails when the counter is full, which already ends every wait.
  }
  // The line thread uses the descriptor until it has left.
  if (modemWait_) modemWait_->Stop();
  std::unique_lock lock(mutex_);
  if (fd_ < 0) return;
  // A hung-up line refuses these; there is nothing left to restore then.
  tcsetattr(fd_, TCSANOW, &saved_.settings);
  if (saved_.customSpeed) WriteCustomLineSpeed(fd_, saved_.speed);
  ioctl(fd_, TIOCNXCL);
  close(fd_);
  fd_ = -1;
}

// Reads what the line holds now and switches it to raw.
bool PrepareLine(int fd, SavedLine* saved) {
  if (tcgetattr(fd, &saved->settings) != 0) return false;
  if (!ReadLineSpeed(fd, &saved->speed, &saved->customSpeed)) return false;
  int lines = 0;
  saved->modemLines = ioctl(fd, TIOCMGET, &lines) == 0;
  termios raw = saved->settings;
  SetRaw(raw);
  return tcsetattr(fd, TCSANOW, &raw) == 0;
}

// Keeps other openers out. TIOCEXCL does not stop root, so the flock is what
// makes a second open through this code fail with EBUSY.
bool ClaimLine(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) errno = EBUSY;
    return false;
  }
  return ioctl(fd, TIOCEXCL) == 0;
}

// Whether the node changed less than a second ago.
bool ChangedJustNow(const std::string& path) {
  struct stat node {};
  timespec now{};
  if (stat(path.c_str(), &node) != 0 || clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  const auto age = std::chrono::seconds(now.tv_sec - node.st_ctim.tv_sec) +
                   std::chrono::nanoseconds(now.tv_nsec - node.st_ctim.tv_nsec);
  return age < std::chrono::seconds(1);
}

// Right after an adapter appears udev is still setting its group and mode, so
// a refusal on a node that just changed is tried again, for a second at most.
int OpenNode(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    if (std::chrono::steady_clock::now() >= deadline || !ChangedJustNow(path)) {
      errno = EACCES;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

std::shared_ptr<SerialDevice> OpenPosixDevice(const std::string& path) {
  const int fd = OpenNode(path);
  if (fd < 0) return nullptr;
  if (!ClaimLine(fd)) {
    const int err = errno;
    close(fd);
    errno = err;
    return nullptr;
  }
  SavedLine saved;
  const bool prepared = PrepareLine(fd, &saved);
  const int closeEvent = prepared ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
  if (closeEvent < 0) {
    const int err = errno;
    if (prepared) tcsetattr(fd, TCSANOW, &saved.settings);
    ioctl(fd, TIOCNXCL);
    close(fd);
    errno = err;
    return nullptr;
  }
  return std::make_shared<PosixSerialDevice>(fd, closeEvent, saved);
}
