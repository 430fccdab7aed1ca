#pragma once
// TComm owns one serial device and the watcher thread that turns the device's
// events into three notifications: bytes received (OnCommReceive), output
// queue state (OnCommTransmit) and line or modem events (OnCommEvent).
//
// Threading. The notifications run on the watcher thread, not the caller's.
// Write may be called from the window's thread and from a transfer worker;
// Read only from an OnCommReceive handler. Open, Close and the setters belong
// to the owner's thread. Close returns only after the watcher has left, and
// the watcher never touches the device after that; called from inside a
// notification, Close makes the watcher leave as soon as the handler returns.

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "OpenFailure.h"
#include "SerialDevice.h"

// A Pascal-style set over a small enumeration, held in Bits.
template <typename E, typename Bits>
class SmallSet {
 public:
  constexpr SmallSet() = default;
  constexpr SmallSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  static constexpr SmallSet FromBits(Bits bits) {
    SmallSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr bool contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool empty() const { return bits_ == 0; }
  constexpr Bits bits() const { return bits_; }
  constexpr SmallSet& operator+=(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr SmallSet& operator-=(E e) {
    bits_ &= static_cast<Bits>(~Bit(e));
    return *this;
  }
  constexpr bool operator==(const SmallSet&) const = default;

 private:
  static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits{1} << static_cast<int>(e)); }
  Bits bits_ = 0;
};

enum TCommParityBits : uint8_t { cpbNone, cpbOdd, cpbEven, cpbMark, cpbSpace };
enum TCommByteSize : uint8_t { cbs4, cbs5, cbs6, cbs7, cbs8 };
enum TCommStopBits : uint8_t { csb1, csb15, csb2 };
enum TCommFlowControl : uint8_t { cfcDtrDsr, cfcRtsCts, cfcXonXoff, cfcHalfDuplex };
using TCommFlowControls = SmallSet<TCommFlowControl, uint8_t>;

// Bit n of the set is the Win32 event bit of the same position.
enum TCommEvents : uint8_t {
  evRxchar,
  evRxflag,
  evTxempty,
  evCts,
  evDsr,
  evRlsd,
  evBreak,
  evErr,
  evRing,
  evPerr
};
using TCommEventMask = SmallSet<TCommEvents, uint16_t>;

constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t EV_PERR = 0x0200;

class TComm;
using TCommNotifyEvent = std::function<void(TComm* Sender, TCommEventMask EventMask)>;
using TCommNotifyRxTxEvent = std::function<void(TComm* Sender, uint16_t Size)>;

class ECommError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ECommOpenError : public ECommError {
 public:
  explicit ECommOpenError(int32_t code, OpenFailure why = {});
  int32_t ErrorCode;
  OpenFailure Why;  // what the node and its lock say about the failure
};

class ECommReadWriteError : public ECommError {
 public:
  explicit ECommReadWriteError(int32_t code);
  int32_t ErrorCode;
};

// The messages of the component's exceptions.
extern const char* const kMsgNotStarted;  // "通信が開始されていない。"
extern const char* const kMsgTooLong;     // "送信データ長が長すぎる。"

class TComm {
 public:
  TComm();
  virtual ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  void Open();
  // Lets what is queued leave first (DrainOutput), then closes.
  void Close();
  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  // True once the open device has gone for good: its other side closed, or
  // the adapter was unplugged.
  bool DeviceGone() const;

  // Sends Count bytes; returns when the device has taken them. Returns the
  // number taken, which is less than Count only when the device stalled for
  // a second or failed while the write was in progress.
  int Write(const void* Buffer, int Count);
  // The same, waiting first until no more than QueueLimit bytes (at least
  // Count) would wait in the device with these: a sender that must react
  // quickly to its peer keeps little queued ahead of the line.
  int WriteWithin(const void* Buffer, int Count, size_t QueueLimit);
  // Reads up to Count bytes, waiting at most a second for them; returns the
  // number read.
  int Read(void* Buffer, int Count);
  int WriteString(std::string_view S);

  // Published properties.
  uint8_t Port() const { return port_; }
  void SetPort(uint8_t value) { port_ = value; }
  int BaudRate() const { return baudRate_; }
  // While open, a speed the device cannot run raises ECommError
  // ("設定エラー BaudRate = %d") and the line keeps its speed; Open raises
  // the same and stays closed.
  void SetBaudRate(int value);
  // The speed the line runs: BaudRateUserDefined when BaudRate is -1.
  int EffectiveBaudRate() const;
  int BaudRateUserDefined() const { return baudRateUserDefined_; }
  void SetBaudRateUserDefined(int value) { baudRateUserDefined_ = value; }
  TCommParityBits ParityBits() const { return parityBits_; }
  void SetParityBits(TCommParityBits value);
  TCommByteSize ByteSize() const { return byteSize_; }
  void SetByteSize(TCommByteSize value);
  TCommStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TCommStopBits value);
  TCommFlowControls FlowControls() const { return flowControls_; }
  void SetFlowControls(TCommFlowControls value);
  // True when CTS off holds the output back (RTS/CTS or half duplex chosen);
  // safe from any thread.
  bool OutputFollowsCts() const { return followsCts_.load(std::memory_order_relaxed); }
  uint16_t InQueueSize() const { return inQueueSize_; }
  void SetInQueueSize(uint16_t value) { inQueueSize_ = value; }
  uint16_t OutQueueSize() const { return outQueueSize_; }
  void SetOutQueueSize(uint16_t value) { outQueueSize_ = value; }
  int ReceiveNotifySize() const { return receiveNotifySize_; }
  void SetReceiveNotifySize(int value);
  int SendNotifySize() const { return sendNotifySize_; }
  void SetSendNotifySize(int value);
  TCommEventMask EventMask() const { return eventMask_; }
  void SetEventMask(TCommEventMask value);
  bool DsrState();

  // The device behind "COM" + Port: a device path or "virtual:NAME". Empty
  // means the usual device of the port, /dev/ttyS0 to /dev/ttyS3.
  const std::string& DevicePath() const { return devicePath_; }
  void SetDevicePath(std::string path) { devicePath_ = std::move(path); }
  // The path Open will use: DevicePath, or the default device of Port.
  std::string ResolvedDevicePath() const;

  TCommNotifyEvent OnCommEvent;
  TCommNotifyRxTxEvent OnCommReceive;
  TCommNotifyRxTxEvent OnCommTransmit;
  // Replaces OnCommReceive while the port may be open: the watcher never
  // calls a handler that is being replaced, and no notification is lost.
  // Returns the handler that was installed. A receive handler must therefore
  // never wait for the thread that swaps it.
  TCommNotifyRxTxEvent SwapCommReceive(TCommNotifyRxTxEvent handler);
  // Where an exception thrown by a notification handler goes (the watcher
  // thread's message). Without one it is written to standard error.
  std::function<void(const std::string& message)> OnWatcherException;

  // The modem lines (MS_* bits) as the watcher last reported them; 0 while
  // closed. A change is reported only after every byte that arrived before
  // it has been handed to OnCommReceive, so a reader of both sees them in
  // the order they came.
  uint32_t LineState() const { return lineState_.load(); }
  // Bytes written and not yet on the line; 0 while closed.
  size_t OutQueueBytes() const;
  // Drops what was written and has not left yet; nothing while closed.
  void PurgeOutput();
  // A reader that waits for this many more bytes (0: for whatever comes)
  // lets the watcher take a stream in batches: it sleeps while the line
  // brings them, rather than waking for every few bytes. Any thread.
  void ExpectInput(int bytes) { expectedInput_.store(bytes, std::memory_order_relaxed); }
  // False where PurgeOutput leaves much of it on its way (a pty's reader
  // keeps what its line buffer holds); true while closed.
  bool PurgeReachesQueue() const;

  // The event mask as the device watch holds it (EV_* bits), and the block
  // last handed to the device; both for inspection.
  uint32_t DeviceEventMask() const { return deviceMask_.load(); }
  TDcb DeviceDcb() const;

 protected:
  virtual void DoCommEvent(TCommEventMask Events);
  virtual void DoCommReceive();
  virtual void DoCommTransmit();
  // The lines changed (see LineState). Called on the watcher after the
  // receive notification of the same wake-up, by Open before the watcher
  // starts, and by Close with 0 once the watcher has left.
  virtual void DoLineState(uint32_t Modem);
  // Close has begun and is about to wait for the watcher: a receive handler
  // that is waiting (for room, say) must let go now.
  virtual void DoClosing() {}

  // The open device, or null; safe from any thread.
  std::shared_ptr<SerialDevice> Device() const;

 private:
  struct WatchState;
  // False when the open device refused the changed block.
  bool ApplyDcbChange(const std::function<void(TDcb&)>& change);
  void ApplyAllSettings();
  void ConfigureBaudRate(TDcb& dcb) const;
  void ConfigureFlowControls(TDcb& dcb) const;
  static void DrainOutput(SerialDevice& dev);
  void Watch(std::shared_ptr<WatchState> state);
  void WatchOnce(WatchState& state);
  uint32_t CollectEvents(WatchState& state);
  uint32_t CollectLineEvents(WatchState& state);
  bool TakeInput(SerialDevice& dev);
  int BatchWaitMs(const WatchState& state) const;
  int TakeReceived(uint8_t* bytes, int count);
  void Dispatch(uint32_t bits);
  void ReportException(const char* what);
  void PublishLineState(uint32_t modem);
  void WakeWatcher() const;
  void ReapWatcher();

  uint8_t port_ = 1;
  int baudRate_ = 9600;
  int baudRateUserDefined_ = 9600;
  TCommParityBits parityBits_ = cpbNone;
  TCommByteSize byteSize_ = cbs8;
  TCommStopBits stopBits_ = csb1;
  TCommFlowControls flowControls_{cfcRtsCts};
  std::atomic<bool> followsCts_{true};
  uint16_t inQueueSize_ = 4096;
  uint16_t outQueueSize_ = 4096;
  int receiveNotifySize_ = 3072;
  int sendNotifySize_ = 1024;
  TCommEventMask eventMask_{};
  std::string devicePath_;

  mutable std::mutex deviceMutex_;  // guards device_ and watchState_
  std::shared_ptr<SerialDevice> device_;
  std::atomic<bool> open_{false};
  std::atomic<uint32_t> deviceMask_{0};
  std::atomic<uint32_t> lineState_{0};
  std::atomic<bool> txPending_{false};
  std::atomic<int> expectedInput_{0};
  std::atomic<uint64_t> bytesRead_{0};  // by Read, over the component's life
  std::mutex receiveMutex_;             // held while OnCommReceive is called or replaced
  std::shared_ptr<WatchState> watchState_;
  // Bytes the watcher has read for the receive handler; watcher thread only.
  std::vector<uint8_t> received_;
  size_t receivedAt_ = 0;
  size_t receivedEnd_ = 0;
  std::thread watcher_;
};
