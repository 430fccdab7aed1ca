#pragma once
// What the transfer bench's two modes share: one transfer over a fresh relay
// and work folder, between our engine and lrzsz or either with itself.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "KelComm.h"

// One protocol as each side spells it; null where lrzsz has no such part.
struct Pairing {
  const char* name;
  protType ours;
  const char* lrzszSend;     // run in the work folder with the file "data.bin"
  const char* lrzszReceive;  // writes "recv.bin" (XMODEM) or the announced name
  const char* received;      // what lrzsz's receiver writes
};

const Pairing* FindPairing(const std::string& name);

enum class Direction { OursToLrzsz, LrzszToOurs, LrzszToLrzsz, OursToOurs };

struct Setup {
  size_t size = 1 << 20;
  int speed = 115200;
  double bitErrorRate = 0.0;
  double byteErrorRate = 0.0;  // replaces bitErrorRate when above zero
  int latencyMs = 0;
  uint64_t seed = 7;      // of the relay's errors
  int deadlineSlack = 3;  // the deadline allows this many times the clean line's time
  std::string dir;
};

struct Outcome {
  bool good = false;   // ended in time, both sides content, the file intact
  bool ended = false;  // both sides ended before the deadline
  double seconds = 0;
  uint64_t bitsFlipped = 0;
  std::optional<double> senderCpu, receiverCpu;  // where both sides are ours: the pair, as sender
};

// The whole seconds a transfer may take before it counts as not done.
int DeadlineSeconds(const Setup& setup);

// The first size bytes of the bench's random file (the same for every run).
std::string RandomFile(size_t size);

// Runs one transfer of data in a work folder of its own, removed afterwards
// unless KELTERM_BENCH_KEEP is set.
Outcome RunTransfer(const Pairing& p, Direction d, Setup setup, const std::string& data);

// The ZMODEM table on noisy lines; args are its name=value arguments.
int NoisyTable(int argc, char** argv);
