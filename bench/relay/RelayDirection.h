#pragma once
// One direction of the relayed line: bytes read from one pty master wait
// here, each with the moment it reaches the far end, until they are written
// to the other master. Used by the relay thread only.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>

using RelayClock = std::chrono::steady_clock;

class RelayDirection {
 public:
  struct Line {
    int speed = 0;  // bits per second; 0 unpaced
    int latencyMs = 0;
    double bitErrorRate = 0.0;
    double byteErrorRate = 0.0;  // replaces bitErrorRate when above zero
    uint64_t seed = 1;
  };

  RelayDirection(int from, int to, const Line& line, std::atomic<uint64_t>& moved,
                 std::atomic<uint64_t>& flipped);

  // Input side. WantsInput: there is room and the wire is about to be free,
  // so a read may take bytes now. InputAllowedAt: when pacing will let the
  // next read happen (only meaningful while WantsInput is false).
  bool WantsInput(RelayClock::time_point now) const;
  std::optional<RelayClock::time_point> InputAllowedAt() const;
  void ReadInput(RelayClock::time_point now);

  // Output side. Deliver writes every byte that is due; when the far end's
  // queue is full it stops and Blocked() tells the caller to wait for room.
  void Deliver(RelayClock::time_point now);
  bool Blocked() const { return blocked_; }
  std::optional<RelayClock::time_point> NextDue() const;

 private:
  struct Chunk {
    std::string bytes;
    size_t offset = 0;                // bytes already delivered
    RelayClock::time_point firstDue;  // arrival of bytes[0]
    RelayClock::duration step{};      // time between arrivals
  };

  size_t DueCount(const Chunk& c, RelayClock::time_point now) const;
  size_t ReadLimit(RelayClock::time_point now) const;
  void Damage(std::string& bytes);
  void DamageBits(std::string& bytes);
  void DamageBytes(std::string& bytes);

  int from_;
  int to_;
  RelayClock::duration byteTime_{};  // zero when unpaced
  RelayClock::duration latency_{};
  RelayClock::time_point wireFree_{};
  std::deque<Chunk> queue_;
  size_t pending_ = 0;
  bool inputOpen_ = true;
  bool blocked_ = false;
  std::mt19937_64 rng_;
  double errorRate_ = 0.0;  // per bit or per byte, as perByte_ says
  bool perByte_ = false;
  std::geometric_distribution<uint64_t> gap_;
  std::uniform_int_distribution<unsigned> bitOfByte_{0, 7};
  uint64_t toNextError_ = 0;  // bits or bytes left intact before the next error
  std::atomic<uint64_t>& moved_;
  std::atomic<uint64_t>& flipped_;
};
