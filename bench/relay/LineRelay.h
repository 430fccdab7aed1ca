#pragma once
// Two pseudo-terminals joined like a null-modem cable. Each side's program
// opens its own slave path (PathA, PathB) as if it were a serial port; a
// relay thread moves the bytes between the two masters, optionally paced at
// a line speed, delayed by a one-way latency and damaged by a seeded error
// model: bits flipped independently, or bytes each arriving with one bit
// flipped. Benchmarks and interoperability tests put it between our
// engine and a peer program when the line itself matters.
//
// A pty master reads EIO while no slave is open, so the relay keeps a slave
// descriptor of its own on both sides (it never reads them): the line stays
// up while the programs at either end open and close their devices.
//
// Pacing models a UART: a byte takes 10 bit times on the wire, the wire
// carries one byte after another, and the relay takes bytes from the
// sender's pty only as the wire is about to become free. The pty's own queue
// therefore fills when the sender outruns the line, as a serial driver's
// would, and the sender's writes wait.
//
// Threading. The relay thread owns the masters and everything in flight.
// The counters are atomics readable from any thread; Stop() may be called
// from any thread but the relay's, more than once.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class LineRelay {
 public:
  struct Options {
    int speed = 0;              // bits per second, 10 bits a byte; 0 passes bytes unpaced
    int latencyMs = 0;          // one-way delay of every byte
    double bitErrorRate = 0.0;  // chance that a data bit arrives flipped
    // Chance that a byte arrives with exactly one of its bits flipped (any of
    // the eight alike); when above zero it replaces bitErrorRate.
    double byteErrorRate = 0.0;
    uint64_t seed = 1;  // of the error positions; each direction draws its own
  };

  explicit LineRelay(const Options& options);
  LineRelay() : LineRelay(Options{}) {}
  ~LineRelay();
  LineRelay(const LineRelay&) = delete;
  LineRelay& operator=(const LineRelay&) = delete;

  // False when the ptys or the thread could not be made (the reason was
  // written to errno); nothing else works then.
  bool ok() const { return ok_; }
  const std::string& PathA() const { return pathA_; }
  const std::string& PathB() const { return pathB_; }

  // Ends the relay thread and waits for it. Bytes still in flight are lost;
  // both lines stay open until the relay is destroyed.
  void Stop();

  // Bytes delivered to the far side so far, and data bits flipped on the way.
  uint64_t BytesAToB() const;
  uint64_t BytesBToA() const;
  uint64_t BitsFlipped() const;
  // Processor time the relay thread has used so far, in seconds (0 once
  // stopped): benchmarks subtract it from their own process's time.
  double RelayCpuSeconds() const;

  struct Shared;

 private:
  bool ok_ = false;
  std::string pathA_;
  std::string pathB_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};
