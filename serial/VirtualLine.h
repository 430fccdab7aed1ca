#pragma once
// An in-process null-modem cable with two ends, 0 and 1. Bytes written at one
// end arrive at the other; one end's RTS is the other's CTS, its DTR the
// other's DSR and RLSD. The line can pace bytes at a line speed (speed / 10
// bytes a second), delay them by a fixed latency, and flip bits at a given
// rate from a seed. A test or a simulated modem can also drive the far end's
// CTS, DSR, RLSD and RING directly.
//
// An end opened as a device follows the flow control of its block: with
// RTS/CTS its transmitter holds while its CTS is off; with XON/XOFF an XOFF
// from the far end holds it until an XON, and neither reaches its input.
//
// A line is registered under a name; "virtual:NAME" opens end 0 through
// OpenSerialDevice and "virtual:NAME/1" end 1 ("virtual:NAME/0" is end 0).
// Each end can be opened as a device by one TComm at a time. Tests and the
// simulated modem drive an end directly through End.
//
// Threading: every member may be called from any thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "SerialDevice.h"

class VirtualLine : public std::enable_shared_from_this<VirtualLine> {
 public:
  struct Options {
    int speed = 0;                         // bit/s; 0 moves bytes at once
    std::chrono::microseconds latency{0};  // one-way, added to every byte
    double bitErrorRate = 0;               // probability that a data bit flips
    uint64_t seed = 1;                     // for the bit errors
    size_t inputCapacity = 65536;          // unread bytes an end holds before
                                           // the far end stops transmitting,
                                           // until SetupQueues says otherwise
  };

  // Direct access to one end, without opening it as a device.
  class End {
   public:
    // Queues bytes for transmission (never refuses; pacing applies).
    void Write(std::string_view bytes);
    // Takes up to max bytes that have arrived; never waits.
    std::string Read(size_t max = SIZE_MAX);
    // Waits until at least count bytes have arrived or the timeout passed;
    // returns what has arrived then (up to count bytes, taken).
    std::string ReadFor(size_t count, std::chrono::milliseconds timeout);
    size_t Available();
    size_t Pending();  // written, not yet arrived at the far end

    // This end's outputs: RTS is the far end's CTS; DTR its DSR and RLSD.
    void SetRts(bool on);
    void SetDtr(bool on);
    // Drive the far end's inputs directly, as a modem drives its DTE.
    void SetFarCts(bool on);
    void SetFarDsr(bool on);
    void SetFarRlsd(bool on);
    void SetFarRing(bool on);
    // What this end sees (MS_* bits) and what it drives.
    uint32_t ModemStatus();
    bool Rts();
    bool Dtr();
    // True while this end is open as a device.
    bool IsOpen();
    // Parks the event wait of the device open at this end (its port's
    // watcher) until ReleaseWait: what happens on the line meanwhile reaches
    // the watcher only afterwards, all at once, so a test can put the bytes
    // and a line change in the device before the watcher looks at either.
    // Returns once the wait is parked. A signal on the wait's own wake-up
    // descriptor (the port closing) still ends it.
    void HoldWait();
    void ReleaseWait();

   private:
    friend class VirtualLine;
    End(VirtualLine* line, int index) : line_(line), index_(index) {}
    VirtualLine* line_;
    int index_;
  };

  // Registers a new line under name; throws std::invalid_argument when the
  // name is taken.
  static std::shared_ptr<VirtualLine> Create(const std::string& name, Options options);
  static std::shared_ptr<VirtualLine> Create(const std::string& name) {
    return Create(name, Options{});
  }
  static std::shared_ptr<VirtualLine> Find(const std::string& name);
  // Unregisters the line; ends that are open keep working until closed.
  static void Remove(const std::string& name);

  ~VirtualLine();
  End& end(int index);
  const std::string& name() const;
  void SetOptions(Options options);  // pacing, latency and errors from now on

  // Opens end `index` as a device; null (errno EBUSY) when it is open already.
  std::shared_ptr<SerialDevice> OpenEnd(int index);

 private:
  struct Impl;
  explicit VirtualLine(const std::string& name, Options options);
  std::unique_ptr<Impl> impl_;
  End ends_[2];
  friend class VirtualDevice;
};
