#include "Comm.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>

const char* const kMsgNotStarted = "通信が開始されていない。";
const char* const kMsgTooLong = "送信データ長が長すぎる。";

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kIoPatience = std::chrono::milliseconds(1000);  // without progress
constexpr int kTxEmptyPollMs = 5;
constexpr int kRetryUnreadMs = 10;
// A stream a reader waits for is taken in batches of at most this much line
// time, and only when the batch is worth a sleep (the line would otherwise
// wake the watcher every millisecond or so).
constexpr int kLongestBatchMs = 10;
constexpr int kShortestBatchMs = 2;
constexpr int64_t kBatchEarlyUs = 2000;
// The watcher takes at most this much from the device per wake-up: the
// size of a tty's input buffer.
constexpr size_t kReceiveChunk = 4096;

std::string FormatCode(const char* prefix, int32_t code) {
  return std::string(prefix) + std::to_string(code);
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

// A pty does not always say when its reader has made room: it wakes a
// writer only once the reader's buffer runs low, which a reader that takes
// bytes at a line's pace never lets happen. So a wait for room lasts no
// longer than the line needs to send what is left to write, and at most
// kRoomRetryMs, and the write is tried again: a transfer's sender that waits
// here hears its receiver that much sooner.
constexpr int64_t kRoomRetryMs = 20;

int RoomWaitMs(const SerialDevice& dev, size_t left, Clock::time_point deadline) {
  const int64_t lineMs = std::min(dev.SendTimeUs(left) / 1000 + 1, kRoomRetryMs);
  return static_cast<int>(std::min<int64_t>(RemainingMs(deadline), lineMs));
}

}  // namespace

ECommOpenError::ECommOpenError(int32_t code, OpenFailure why)
    : ECommError(FormatCode("オープンエラー ErrorCode = ", code)),
      ErrorCode(code),
      Why(std::move(why)) {}

ECommReadWriteError::ECommReadWriteError(int32_t code)
    : ECommError(FormatCode("入出力エラー ErrorCode = ", code)), ErrorCode(code) {}

// What the watcher thread owns. It outlives the TComm's hold on it when Close
// is called from inside a notification: the watcher then only reads `stop`
// before it leaves.
struct TComm::WatchState {
  explicit WatchState(std::shared_ptr<SerialDevice> dev)
      : device(std::move(dev)), wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~WatchState() {
    if (wakeFd >= 0) close(wakeFd);
  }
  // The flag spares the watcher a read of the eventfd on every wake-up; it
  // is raised after the write, so a drain never runs ahead of the signal.
  void Wake() {
    if (wakeFd < 0) return;
    eventfd_write(wakeFd, 1);
    woken.store(true);
  }
  void DrainWake() {
    eventfd_t value;
    if (wakeFd >= 0 && woken.exchange(false)) eventfd_read(wakeFd, &value);
  }

  std::shared_ptr<SerialDevice> device;
  int wakeFd;
  std::atomic<bool> stop{false};
  std::atomic<bool> woken{false};
  uint32_t lastModem = 0;      // as the last wake-up found the lines
  uint32_t reportedModem = 0;  // as DoLineState last reported them
  LineErrorCounts lastErrors;
  bool retryUnread = false;  // the last receive notification read nothing
  bool flowing = false;      // the last wake-up took input
  int batchMs = 0;           // the last wake-up was a batch's, after this sleep
  bool outran = false;       // a batch brought more than the line could: no more
  uint32_t carried = 0;      // line events that lost to a receive notification
};

TComm::TComm() = default;

TComm::~TComm() {
  Close();
  ReapWatcher();
}

// Joins a watcher that has been told to stop. One that is the calling thread
// (the owner closed and reopened, or destroyed, the port from a handler) is
// let go: it touches nothing but its own state on the way out.
void TComm::ReapWatcher() {
  if (!watcher_.joinable()) return;
  if (watcher_.get_id() == std::this_thread::get_id())
    watcher_.detach();
  else
    watcher_.join();
}

std::string TComm::ResolvedDevicePath() const {
  if (!devicePath_.empty()) return devicePath_;
  if (port_ < 1) return std::string();
  return "/dev/ttyS" + std::to_string(port_ - 1);
}

std::shared_ptr<SerialDevice> TComm::Device() const {
  std::lock_guard lock(deviceMutex_);
  return device_;
}

bool TComm::DeviceGone() const {
  auto dev = Device();
  return dev && dev->HungUp();
}

void TComm::WakeWatcher() const {
  std::lock_guard lock(deviceMutex_);
  if (watchState_) watchState_->Wake();
}

TDcb TComm::DeviceDcb() const {
  auto dev = Device();
  return dev ? dev->Dcb() : TDcb{};
}

void TComm::Open() {
  if (IsOpen()) return;
  ReapWatcher();
  const std::string path = ResolvedDevicePath();
  auto dev = OpenSerialDevice(path);
  if (!dev) throw ECommOpenError(-1, ExplainOpenFailure(path, errno));
  dev->SetupQueues(inQueueSize_, outQueueSize_);
  dev->Purge();
  {
    std::lock_guard lock(deviceMutex_);
    device_ = dev;
  }
  open_.store(true, std::memory_order_release);
  try {
    ApplyAllSettings();
  } catch (...) {
    open_.store(false, std::memory_order_release);
    {
      std::lock_guard lock(deviceMutex_);
      device_.reset();
    }
    dev->Close();
    throw;
  }
  // The watcher watches received characters on top of the chosen events.
  deviceMask_ = eventMask_.bits() | EV_RXCHAR;
  auto state = std::make_shared<WatchState>(dev);
  state->lastModem = state->reportedModem = dev->ModemStatus();
  state->lastErrors = dev->ErrorCounts();
  PublishLineState(state->lastModem);
  {
    std::lock_guard lock(deviceMutex_);
    watchState_ = state;
  }
  received_.assign(kReceiveChunk, 0);
  receivedAt_ = receivedEnd_ = 0;
  watcher_ = std::thread([this, state] { Watch(state); });
  dev->SetDtr(true);
}

void TComm::Close() {
  if (!IsOpen()) return;
  open_.store(false, std::memory_order_release);
  std::shared_ptr<WatchState> state;
  {
    std::lock_guard lock(deviceMutex_);
    state = std::move(watchState_);
  }
  if (state) {
    state->stop = true;
    state->Wake();
  }
  DoClosing();
  // Called from inside a notification, the watcher leaves as soon as the
  // handler returns; it is joined by the next Open or the destructor.
  if (watcher_.joinable() && watcher_.get_id() != std::this_thread::get_id()) watcher_.join();
  std::shared_ptr<SerialDevice> dev;
  {
    std::lock_guard lock(deviceMutex_);
    dev = std::move(device_);
  }
  deviceMask_ = 0;
  txPending_ = false;
  DrainOutput(*dev);
  dev->SetDtr(false);
  dev->Purge();
  dev->Close();
  PublishLineState(0);
}

// The last bytes written (a protocol's final ACK, a modem's hang-up) leave
// before the purge. A line held by flow control gets a second more than its
// speed needs, then loses what still waits.
void TComm::DrainOutput(SerialDevice& dev) {
  const size_t queued = dev.OutQueue();
  if (queued == 0) return;
  const auto deadline =
      Clock::now() + std::chrono::microseconds(dev.SendTimeUs(queued)) + kIoPatience;
  while (dev.OutQueue() > 0 && Clock::now() < deadline) dev.WaitOutputRoom(RemainingMs(deadline));
}

int TComm::Write(const void* Buffer, int Count) {
  return WriteWithin(Buffer, Count, outQueueSize_);
}

int TComm::WriteWithin(const void* Buffer, int Count, size_t QueueLimit) {
  auto dev = Device();
  if (!dev) throw ECommError(kMsgNotStarted);
  if (Count > outQueueSize_) throw ECommError(kMsgTooLong);
  if (Count <= 0) return 0;

  // Wait until the whole buffer fits, so that it goes to the device in one
  // piece; give up once the queue has not moved for a second.
  const size_t limit = std::clamp<size_t>(QueueLimit, static_cast<size_t>(Count), outQueueSize_);
  auto deadline = Clock::now() + kIoPatience;
  size_t queued = dev->OutQueue();
  while (limit < queued + static_cast<size_t>(Count) && Clock::now() < deadline) {
    dev->WaitOutputRoom(RoomWaitMs(*dev, queued + Count - limit, deadline));
    size_t now = dev->OutQueue();
    if (now < queued) deadline = Clock::now() + kIoPatience;
    queued = now;
  }

  auto bytes = static_cast<const uint8_t*>(Buffer);
  int done = 0;
  deadline = Clock::now() + kIoPatience;
  while (done < Count) {
    long n = dev->WriteSome(bytes + done, Count - done);
    if (n < 0) {
      if (done == 0) throw ECommReadWriteError(errno);
      break;  // failed while in progress: ends quietly
    }
    if (n > 0) {
      done += static_cast<int>(n);
      deadline = Clock::now() + kIoPatience;
    } else if (Clock::now() >= deadline) {
      break;
    } else {
      dev->WaitOutputRoom(RoomWaitMs(*dev, static_cast<size_t>(Count - done), deadline));
    }
  }
  if (done > 0 && (deviceMask_.load() & EV_TXEMPTY)) {
    txPending_ = true;
    WakeWatcher();
  }
  return done;
}

int TComm::Read(void* Buffer, int Count) {
  auto dev = Device();
  if (!dev) throw ECommError(kMsgNotStarted);
  auto bytes = static_cast<uint8_t*>(Buffer);
  int done = TakeReceived(bytes, Count);
  auto deadline = Clock::now() + kIoPatience;
  while (done < Count) {
    long n = dev->ReadSome(bytes + done, Count - done);
    if (n < 0) {
      if (done == 0) throw ECommReadWriteError(errno);
      break;
    }
    if (n > 0) {
      done += static_cast<int>(n);
      deadline = Clock::now() + kIoPatience;
    } else if (Clock::now() >= deadline) {
      break;
    } else {
      dev->WaitEvent(-1, RemainingMs(deadline), true);
    }
  }
  bytesRead_ += static_cast<uint64_t>(done);
  return done;
}

int TComm::WriteString(std::string_view S) { return Write(S.data(), static_cast<int>(S.size())); }

bool TComm::DsrState() {
  auto dev = Device();
  return dev && (dev->ModemStatus() & MS_DSR_ON) != 0;
}

TCommNotifyRxTxEvent TComm::SwapCommReceive(TCommNotifyRxTxEvent handler) {
  std::lock_guard lock(receiveMutex_);
  std::swap(OnCommReceive, handler);
  return handler;
}

// ---- Settings -------------------------------------------------------------

bool TComm::ApplyDcbChange(const std::function<void(TDcb&)>& change) {
  auto dev = Device();
  if (!dev) return true;
  TDcb dcb = dev->Dcb();
  change(dcb);
  return dev->ApplyDcb(dcb);
}

// A speed below 1 reaches the device as 0, which no line runs.
void TComm::ConfigureBaudRate(TDcb& dcb) const {
  dcb.BaudRate = static_cast<uint32_t>(std::max(EffectiveBaudRate(), 0));
}

int TComm::EffectiveBaudRate() const { return baudRate_ == -1 ? baudRateUserDefined_ : baudRate_; }

void TComm::ConfigureFlowControls(TDcb& dcb) const {
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = false;
  dcb.fTXContinueOnXoff = dcb.fOutX = dcb.fInX = false;
  dcb.fErrorChar = dcb.fNull = false;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  const TCommFlowControls fc = flowControls_;
  if (fc.contains(cfcHalfDuplex)) {
    dcb.fOutxCtsFlow = true;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  } else if (fc.contains(cfcRtsCts)) {
    dcb.fOutxCtsFlow = true;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else {
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  }
  if (fc.contains(cfcDtrDsr)) {
    dcb.fOutxDsrFlow = true;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  } else {
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
  }
  if (fc.contains(cfcXonXoff)) dcb.fOutX = dcb.fInX = true;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fBinary = dcb.fParity = true;
}

void TComm::SetBaudRate(int value) {
  baudRate_ = value;
  if (!ApplyDcbChange([this](TDcb& d) { ConfigureBaudRate(d); }))
    throw ECommError(FormatCode("設定エラー BaudRate = ", EffectiveBaudRate()));
}

void TComm::SetParityBits(TCommParityBits value) {
  parityBits_ = value;
  ApplyDcbChange([this](TDcb& d) { d.Parity = parityBits_; });
}

void TComm::SetByteSize(TCommByteSize value) {
  byteSize_ = value;
  ApplyDcbChange([this](TDcb& d) { d.ByteSize = static_cast<uint8_t>(byteSize_ + 4); });
}

void TComm::SetStopBits(TCommStopBits value) {
  stopBits_ = value;
  ApplyDcbChange([this](TDcb& d) { d.StopBits = stopBits_; });
}

void TComm::SetFlowControls(TCommFlowControls value) {
  flowControls_ = value;
  followsCts_ = value.contains(cfcRtsCts) || value.contains(cfcHalfDuplex);
  ApplyDcbChange([this](TDcb& d) { ConfigureFlowControls(d); });
}

size_t TComm::OutQueueBytes() const {
  auto dev = Device();
  return dev ? dev->OutQueue() : 0;
}

void TComm::PurgeOutput() {
  if (auto dev = Device()) dev->PurgeOutput();
}

bool TComm::PurgeReachesQueue() const {
  auto dev = Device();
  return !dev || dev->PurgeReachesQueue();
}

void TComm::SetReceiveNotifySize(int value) {
  receiveNotifySize_ = value;
  ApplyDcbChange(
      [this](TDcb& d) { d.XoffLim = static_cast<uint16_t>(inQueueSize_ - receiveNotifySize_); });
}

void TComm::SetSendNotifySize(int value) {
  sendNotifySize_ = value;
  ApplyDcbChange([this](TDcb& d) { d.XonLim = static_cast<uint16_t>(sendNotifySize_); });
}

void TComm::SetEventMask(TCommEventMask value) {
  eventMask_ = value;
  if (!IsOpen()) return;
  // Replaces the whole mask, the received-character event included.
  deviceMask_ = value.bits();
  WakeWatcher();
}

void TComm::ApplyAllSettings() {
  SetBaudRate(baudRate_);
  SetByteSize(byteSize_);
  SetParityBits(parityBits_);
  SetStopBits(stopBits_);
  SetFlowControls(flowControls_);
  SetReceiveNotifySize(receiveNotifySize_);
  SetSendNotifySize(sendNotifySize_);
}

// ---- The watcher ----------------------------------------------------------

void TComm::Watch(std::shared_ptr<WatchState> state) {
  while (!state->stop) WatchOnce(*state);
}

// One wake-up: wait, collect what happened, deliver one notification.
void TComm::WatchOnce(WatchState& state) {
  const uint32_t bits = CollectEvents(state);
  if (state.stop) return;
  if (bits != 0) {
    const uint64_t readBefore = bytesRead_.load();
    try {
      Dispatch(bits);
    } catch (const std::exception& e) {
      ReportException(e.what());
    } catch (...) {
      ReportException("unknown exception");
    }
    if (state.stop) return;
    // A handler that reads nothing would make a level-triggered wait return
    // at once forever; retry it at a gentle pace instead. (Judged by what it
    // read, not by the queue, which may have refilled meanwhile.)
    state.retryUnread = (bits & EV_RXCHAR) && bytesRead_.load() == readBefore;
    // Only one notification per wake-up, and received bytes take precedence;
    // line events of the same wake-up are delivered on the next one rather
    // than lost (a modem drops the carrier right after sending "NO CARRIER").
    if (bits & (EV_RXCHAR | EV_TXEMPTY)) state.carried |= bits & ~(EV_RXCHAR | EV_TXEMPTY);
  }
  // The lines were read before the receive notification took the input
  // queue, so every byte that came before a change has been handed over.
  if (state.lastModem != state.reportedModem) {
    state.reportedModem = state.lastModem;
    PublishLineState(state.lastModem);
  }
}

void TComm::PublishLineState(uint32_t modem) {
  lineState_ = modem;
  DoLineState(modem);
}

void TComm::DoLineState(uint32_t) {}

uint32_t TComm::CollectEvents(WatchState& state) {
  SerialDevice& dev = *state.device;
  const uint32_t mask = deviceMask_.load();
  int timeout = -1;
  if (state.retryUnread) timeout = kRetryUnreadMs;
  if ((mask & EV_TXEMPTY) && txPending_) timeout = kTxEmptyPollMs;
  // Carried line events, and the rest of a chunk the handler read only in
  // part, are delivered at once.
  if (state.carried || (!state.retryUnread && receivedAt_ < receivedEnd_)) timeout = 0;
  bool wantInput = (mask & EV_RXCHAR) && !state.retryUnread;
  state.batchMs = 0;
  if (const int batch = BatchWaitMs(state); wantInput && timeout != 0 && batch > 0) {
    // The device is not watched meanwhile: line events and wake-ups still end the sleep.
    timeout = timeout < 0 ? batch : std::min(timeout, batch);
    wantInput = false;
    state.batchMs = timeout;
  }
  dev.WaitEvent(state.wakeFd, timeout, wantInput);
  state.DrainWake();
  if (state.stop) return 0;

  uint32_t bits = std::exchange(state.carried, 0);
  // The lines first: a byte that came before a change they show is then in
  // the input taken below, and reaches the receive handler before the change
  // is reported.
  if (dev.TakeLineChange()) bits |= CollectLineEvents(state);
  if ((mask & EV_RXCHAR) && TakeInput(dev)) bits |= EV_RXCHAR;
  state.flowing = (bits & EV_RXCHAR) != 0;
  // A peer faster than the set speed (a pty's program, a USB device that
  // ignores it) would be held to a buffer per sleep: until it pauses, every
  // arrival wakes the watcher again.
  if (state.batchMs > 0 && dev.SendTimeUs(receivedEnd_) > int64_t{2} * 1000 * state.batchMs + 1000)
    state.outran = true;
  if (!state.flowing) state.outran = false;
  if (txPending_ && dev.OutQueue() == 0) {
    txPending_ = false;
    bits |= EV_TXEMPTY;
  }
  return bits & deviceMask_.load();  // the mask may have changed during the wait
}

// What the lines and error counters show against the last look.
uint32_t TComm::CollectLineEvents(WatchState& state) {
  SerialDevice& dev = *state.device;
  uint32_t bits = 0;
  const uint32_t modem = dev.ModemStatus();
  const uint32_t changed = modem ^ state.lastModem;
  state.lastModem = modem;
  if (changed & MS_CTS_ON) bits |= EV_CTS;
  if (changed & MS_DSR_ON) bits |= EV_DSR;
  if (changed & MS_RLSD_ON) bits |= EV_RLSD;
  if (changed & MS_RING_ON) bits |= EV_RING;
  const LineErrorCounts errors = dev.ErrorCounts();
  if (errors.brk != state.lastErrors.brk) bits |= EV_BREAK;
  if (errors.frame != state.lastErrors.frame || errors.overrun != state.lastErrors.overrun ||
      errors.parity != state.lastErrors.parity || errors.bufOverrun != state.lastErrors.bufOverrun)
    bits |= EV_ERR;
  state.lastErrors = errors;
  return bits;
}

// While a stream flows and a reader waits for more of it than a short
// sleep brings, the watcher sleeps for about the line time of what is wanted.
// A line that went quiet is watched again at once: the first bytes after a
// pause wake the watcher as ever.
int TComm::BatchWaitMs(const WatchState& state) const {
  const int wanted = expectedInput_.load(std::memory_order_relaxed);
  if (!state.flowing || state.outran || wanted <= 0) return 0;
  // The sleep ends a little before the last wanted byte is due: the end of a
  // block a stop-and-wait protocol answers is then taken as it comes.
  const int64_t ms = (state.device->SendTimeUs(static_cast<size_t>(wanted)) - kBatchEarlyUs) / 1000;
  return ms < kShortestBatchMs ? 0 : static_cast<int>(std::min<int64_t>(ms, kLongestBatchMs));
}

// Reads what the device holds into the receive chunk, which the handler's
// Read then empties: one read per wake-up instead of asking for the queue's
// size first. A chunk the handler left unread is offered again as it is.
bool TComm::TakeInput(SerialDevice& dev) {
  if (receivedAt_ < receivedEnd_) return true;
  const long n = dev.ReadSome(received_.data(), received_.size());
  receivedAt_ = 0;
  receivedEnd_ = n > 0 ? static_cast<size_t>(n) : 0;
  return receivedEnd_ > 0;
}

int TComm::TakeReceived(uint8_t* bytes, int count) {
  const size_t n = std::min(receivedEnd_ - receivedAt_, static_cast<size_t>(std::max(count, 0)));
  std::copy_n(received_.data() + receivedAt_, n, bytes);
  receivedAt_ += n;
  return static_cast<int>(n);
}

void TComm::Dispatch(uint32_t bits) {
  if (bits & EV_RXCHAR)
    DoCommReceive();
  else if (bits & EV_TXEMPTY)
    DoCommTransmit();
  else
    DoCommEvent(TCommEventMask::FromBits(static_cast<uint16_t>(bits)));
}

void TComm::DoCommReceive() {
  auto dev = Device();
  if (!dev || !IsOpen()) return;
  std::lock_guard lock(receiveMutex_);
  if (!OnCommReceive) return;
  const size_t waiting = receivedEnd_ - receivedAt_;
  if (waiting > 0) OnCommReceive(this, static_cast<uint16_t>(std::min<size_t>(waiting, 0xFFFF)));
}

void TComm::DoCommTransmit() {
  auto dev = Device();
  if (!dev || !IsOpen() || !OnCommTransmit) return;
  OnCommTransmit(this, static_cast<uint16_t>(std::min<size_t>(dev->OutQueue(), 0xFFFF)));
}

void TComm::DoCommEvent(TCommEventMask Events) {
  if (!IsOpen() || !OnCommEvent) return;
  TCommEventMask set;
  for (TCommEvents e : {evBreak, evCts, evDsr, evErr, evRing, evRlsd, evRxflag})
    if (Events.contains(e)) set += e;
  OnCommEvent(this, set);
}

void TComm::ReportException(const char* what) {
  if (OnWatcherException)
    OnWatcherException(what);
  else
    std::fprintf(stderr, "%s\n", what);
}
