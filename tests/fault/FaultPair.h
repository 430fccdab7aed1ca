#pragma once
// What the fault tests share: two of our components joined by a virtual
// line, ours on end 0 and the peer on end 1, one file to move between them,
// and the checks that the port is whole again after a fault.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "Reference.h"
#include "Stations.h"

namespace faulttest {

using Clock = std::chrono::steady_clock;

constexpr protType kProtocols[] = {pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024,
                                   pr_YMODEM,         pr_YMODEM_G,       pr_ZMODEM,
                                   pr_MLINK};
// A test-name part for each protocol.
const char* Label(protType p);
// What a receiver of p keeps of data: XMODEM fills the last block with SUB.
std::string Kept(protType p, const std::string& data);
// True when kept is a start of what the receiver of p keeps of data.
::testing::AssertionResult IsStartOf(protType p, const std::string& data, const std::string& kept);

struct Pair {
  // speed in bit/s (0: unpaced); a file of size random bytes waits in dir.
  Pair(protType protocol, int speed, size_t size, uint32_t seed);
  ~Pair();
  TKELCOMM& ours() { return a->comm; }
  TKELCOMM& peer() { return b->comm; }
  TKELCOMM& receiver(bool oursSends) { return oursSends ? peer() : ours(); }

  // The sender starts first and waits for the receiver's invitation; the
  // receiver writes to target.
  void Start(bool oursSends);
  bool WaitReceived(bool oursSends, int32_t bytes, std::chrono::milliseconds timeout);
  bool WaitIdle(TKELCOMM& comm, std::chrono::milliseconds timeout);
  // Everything that reached the peer since the line was made: its ring (it
  // starts at index 0 and does not wrap in these tests), then its window.
  std::string HeardByPeer();
  // Stops the peer's part, restores ours' modem lines and lets the line
  // fall quiet; pacing ends.
  void Settle();
  // Both windows receive again, and a following transfer in the same
  // direction delivers its file (M-LINK is followed by XMODEM: its
  // receiver's start pause would only cost time).
  ::testing::AssertionResult WorksAgain(bool oursSends);

  protType protocol;
  TempDir dir;
  std::string name;
  std::shared_ptr<VirtualLine> line;
  std::unique_ptr<Station> a, b;
  std::string data, source, target;
};

}  // namespace faulttest
