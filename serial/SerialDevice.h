#pragma once
// The device layer under TComm. TComm speaks the vocabulary of the Win32
// serial interface it was first written for (a device control block, modem status bits, purge,
// event waits); each SerialDevice realises it on one kind of line: a termios device
// (PosixSerialDevice) or one end of an in-process virtual line (VirtualLine).
//
// Threading: every operation may be called from any thread (the window's
// thread writes, the watcher reads, a transfer worker writes and tests the
// lines). Close() may race with any of them: operations that start after
// Close() fail cleanly, waits in progress end promptly, nothing crashes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Modem status bits, as GetCommModemStatus reports them.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
constexpr uint32_t MS_RING_ON = 0x40;
constexpr uint32_t MS_RLSD_ON = 0x80;

// DCB control modes.
constexpr uint8_t DTR_CONTROL_DISABLE = 0;
constexpr uint8_t DTR_CONTROL_ENABLE = 1;
constexpr uint8_t DTR_CONTROL_HANDSHAKE = 2;
constexpr uint8_t RTS_CONTROL_DISABLE = 0;
constexpr uint8_t RTS_CONTROL_ENABLE = 1;
constexpr uint8_t RTS_CONTROL_HANDSHAKE = 2;
constexpr uint8_t RTS_CONTROL_TOGGLE = 3;

// The device control block: the fields of the Win32 DCB that TComm's setters
// change. A device applies what it has a form for and keeps the rest.
struct TDcb {
  uint32_t BaudRate = 9600;
  uint8_t ByteSize = 8;  // 4..8; 4 has no termios form and runs as 5
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half (runs as two), 2 two
  bool fBinary = true;
  bool fParity = true;
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  uint8_t fDtrControl = DTR_CONTROL_ENABLE;
  bool fDsrSensitivity = false;
  bool fTXContinueOnXoff = false;
  bool fOutX = false;
  bool fInX = false;
  bool fErrorChar = false;
  bool fNull = false;
  uint8_t fRtsControl = RTS_CONTROL_ENABLE;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t XonChar = 0x11;
  uint8_t XoffChar = 0x13;

  bool operator==(const TDcb&) const = default;
};

// Running totals of line errors (TIOCGICOUNT); zero on lines that have none.
struct LineErrorCounts {
  uint32_t frame = 0;
  uint32_t overrun = 0;
  uint32_t parity = 0;
  uint32_t brk = 0;
  uint32_t bufOverrun = 0;
  bool operator==(const LineErrorCounts&) const = default;
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Requested queue sizes (SetupComm). Advisory on termios devices; the
  // virtual line holds at most InQueueSize bytes unread before it stops
  // transmitting towards this end, as hardware flow control would.
  virtual void SetupQueues(size_t inSize, size_t outSize) = 0;
  // Applies the whole block; returns false when the device refuses it.
  virtual bool ApplyDcb(const TDcb& dcb) = 0;
  // The block as last applied.
  virtual TDcb Dcb() const = 0;

  // Non-blocking transfer: the number of bytes moved, 0 when none could be,
  // -1 on a device error (errno set, or EIO once the line has hung up).
  virtual long ReadSome(uint8_t* buffer, size_t count) = 0;
  virtual long WriteSome(const uint8_t* buffer, size_t count) = 0;

  virtual size_t InQueue() = 0;        // bytes received, not yet read
  virtual size_t OutQueue() = 0;       // bytes written, not yet on the line
  virtual uint32_t ModemStatus() = 0;  // MS_* bits
  virtual void SetDtr(bool on) = 0;
  virtual void SetRts(bool on) = 0;
  virtual void Purge() = 0;  // drops both queues
  // Drops what was written and has not left yet (a pty keeps what its
  // reader's line buffer already holds).
  virtual void PurgeOutput() = 0;
  // False where a purge leaves much of what was written on its way (a pty).
  virtual bool PurgeReachesQueue() const { return true; }
  virtual LineErrorCounts ErrorCounts() = 0;
  // True once the other side has gone for good (a pty peer closed, a USB
  // adapter unplugged). A hung-up device reports RLSD off.
  virtual bool HungUp() = 0;

  // Sleeps until something may have changed: input is waiting (only when
  // wantInput; level-triggered, so it returns at once while bytes wait), the
  // modem lines may have changed, the line hung up, `wakeFd` became readable
  // (-1 for none), or timeoutMs passed (-1 for no limit). Devices whose modem
  // lines give no wake-up shorten the sleep to their polling interval.
  virtual void WaitEvent(int wakeFd, int timeoutMs, bool wantInput) = 0;
  // True when the modem lines or the error counters may have changed since
  // the last call, so that ModemStatus and ErrorCounts are worth asking;
  // meant for the one thread that watches the device. A device whose lines
  // cost nothing to read may always say yes.
  virtual bool TakeLineChange() { return true; }
  // Sleeps until the output queue may have shrunk, or timeoutMs passed.
  virtual void WaitOutputRoom(int timeoutMs) = 0;
  // The time the line needs to send bytes at the pace it runs.
  virtual int64_t SendTimeUs(size_t bytes) const = 0;

  // Ends waits in progress and releases the device; later calls fail cleanly.
  virtual void Close() = 0;
};

// Opens "virtual:NAME" (one end of a registered virtual line) or a device
// path. Returns null, with errno set, when the device can't be had.
std::shared_ptr<SerialDevice> OpenSerialDevice(const std::string& path);
