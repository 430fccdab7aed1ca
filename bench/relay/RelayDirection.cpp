#include "RelayDirection.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// How far ahead of the wire the relay takes bytes from the sender: fine
// enough that the line runs smoothly, coarse enough that the thread wakes
// a few hundred times a second at most.
constexpr auto kHorizon = std::chrono::milliseconds(2);
// Bytes in flight per direction before the relay stops reading the sender
// (when the receiving program does not read, or the latency is long).
constexpr size_t kMaxPending = 64 * 1024;
constexpr size_t kUnpacedRead = 4096;
constexpr auto kBatch = std::chrono::milliseconds(1);

}  // namespace

RelayDirection::RelayDirection(int from, int to, const Line& line, std::atomic<uint64_t>& moved,
                               std::atomic<uint64_t>& flipped)
    : from_(from),
      to_(to),
      rng_(line.seed),
      errorRate_(line.byteErrorRate > 0.0 ? line.byteErrorRate : line.bitErrorRate),
      perByte_(line.byteErrorRate > 0.0),
      gap_(errorRate_ > 0.0 && errorRate_ < 1.0 ? errorRate_ : 0.5),
      moved_(moved),
      flipped_(flipped) {
  if (line.speed > 0) {
    byteTime_ = std::chrono::duration_cast<RelayClock::duration>(
        std::chrono::nanoseconds(static_cast<int64_t>(10'000'000'000LL / line.speed)));
  }
  latency_ = std::chrono::milliseconds(line.latencyMs);
  if (errorRate_ > 0.0) toNextError_ = gap_(rng_);
}

bool RelayDirection::WantsInput(RelayClock::time_point now) const {
  if (!inputOpen_ || pending_ >= kMaxPending) return false;
  return byteTime_.count() == 0 || wireFree_ <= now + kHorizon;
}

std::optional<RelayClock::time_point> RelayDirection::InputAllowedAt() const {
  if (!inputOpen_ || pending_ >= kMaxPending || byteTime_.count() == 0) return std::nullopt;
  return wireFree_ - kHorizon;
}

// As many bytes as can start on the wire before the horizon, at least one.
size_t RelayDirection::ReadLimit(RelayClock::time_point now) const {
  const size_t room = kMaxPending - pending_;
  if (byteTime_.count() == 0) return std::min(room, kUnpacedRead);
  const auto start = std::max(wireFree_, now);
  const auto fits = static_cast<size_t>((now + kHorizon - start) / byteTime_);
  return std::min(room, std::max<size_t>(fits, 1));
}

void RelayDirection::ReadInput(RelayClock::time_point now) {
  char buffer[kUnpacedRead];
  const size_t limit = std::min(ReadLimit(now), sizeof buffer);
  const ssize_t n = read(from_, buffer, limit);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    inputOpen_ = false;  // the master failed: stop asking, or poll would spin
    return;
  }
  Chunk c;
  c.bytes.assign(buffer, static_cast<size_t>(n));
  Damage(c.bytes);
  if (byteTime_.count() == 0) {
    c.firstDue = now + latency_;
  } else {
    const auto start = std::max(wireFree_, now);
    c.firstDue = start + byteTime_ + latency_;
    c.step = byteTime_;
    wireFree_ = start + byteTime_ * n;
  }
  pending_ += c.bytes.size();
  queue_.push_back(std::move(c));
}

// Errors fall at geometrically distributed distances, so they come at the
// given rate with no pattern tied to block boundaries.
void RelayDirection::Damage(std::string& bytes) {
  if (errorRate_ <= 0.0) return;
  if (perByte_)
    DamageBytes(bytes);
  else
    DamageBits(bytes);
}

// Each data bit independently: a byte may take more than one flip.
void RelayDirection::DamageBits(std::string& bytes) {
  for (char& byte : bytes) {
    uint64_t bit = 0;
    while (toNextError_ < 8 - bit) {
      bit += toNextError_;
      byte = static_cast<char>(static_cast<uint8_t>(byte) ^ (1u << bit));
      flipped_.fetch_add(1, std::memory_order_relaxed);
      bit += 1;
      toNextError_ = gap_(rng_);
    }
    toNextError_ -= 8 - bit;
  }
}

// Each byte independently, with one bit flipped: a noise burst shorter
// than a character, as a UART sees it.
void RelayDirection::DamageBytes(std::string& bytes) {
  for (char& byte : bytes) {
    if (toNextError_ > 0) {
      --toNextError_;
      continue;
    }
    byte = static_cast<char>(static_cast<uint8_t>(byte) ^ (1u << bitOfByte_(rng_)));
    flipped_.fetch_add(1, std::memory_order_relaxed);
    toNextError_ = gap_(rng_);
  }
}

size_t RelayDirection::DueCount(const Chunk& c, RelayClock::time_point now) const {
  const size_t left = c.bytes.size() - c.offset;
  if (now < c.firstDue) return 0;
  if (c.step.count() == 0) return left;
  const auto arrived = static_cast<size_t>((now - c.firstDue) / c.step) + 1;
  return arrived > c.offset ? std::min(left, arrived - c.offset) : 0;
}

void RelayDirection::Deliver(RelayClock::time_point now) {
  blocked_ = false;
  while (!queue_.empty()) {
    Chunk& c = queue_.front();
    const size_t due = DueCount(c, now);
    if (due == 0) return;
    const ssize_t n = write(to_, c.bytes.data() + c.offset, due);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      // The far end cannot take bytes at all: they are lost, as on a cut line.
      pending_ -= c.bytes.size() - c.offset;
      queue_.pop_front();
      continue;
    }
    const size_t written = n > 0 ? static_cast<size_t>(n) : 0;
    c.offset += written;
    pending_ -= written;
    moved_.fetch_add(written, std::memory_order_relaxed);
    if (written < due) {
      blocked_ = true;
      return;
    }
    if (c.offset == c.bytes.size()) queue_.pop_front();
  }
}

// Due bytes are handed over in batches of about a millisecond, like a
// UART's receive FIFO, rather than waking the thread for every byte.
std::optional<RelayClock::time_point> RelayDirection::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  const Chunk& c = queue_.front();
  const auto next = c.firstDue + c.step * static_cast<int64_t>(c.offset);
  const auto last = c.firstDue + c.step * static_cast<int64_t>(c.bytes.size() - 1);
  return std::min(next + kBatch, last);
}
