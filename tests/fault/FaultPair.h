#pragma once
// Two of our components on a virtual line, ours on end 0 and the peer on
// end 1, with short waits for a silent peer and a file to move between them.

#include <gtest/gtest.h>

#include <array>

#include "Engine.h"
#include "Stations.h"

namespace faulttest {

constexpr TTranTimes kShortWaits{.PatienceMs = 1500, .StartPauseMs = 100};

inline std::string Label(protType p) {
  return std::array{"XSum", "XCrc", "X1k", "Ymodem", "YmodemG", "Zmodem", "MLink"}[p];
}

// What a receiver of p keeps of data: XMODEM fills its last block with SUB.
inline std::string Kept(protType p, const std::string& data) {
  return p > pr_XMODEM_CRC_1024 ? data : PaddedTo(data, p == pr_XMODEM_CRC_1024 ? 1024 : 128);
}

struct Pair : StationPair {
  // speed in bit/s, 0 unpaced; size random bytes wait in source.
  Pair(protType protocol, int speed, size_t size, uint32_t seed)
      : StationPair(protocol, {.speed = speed}), protocol(protocol), data(RandomBytes(size, seed)) {
    ours().Times = peer().Times = kShortWaits;
    WriteFile(source, data);
  }
  TKELCOMM& ours() { return a.comm; }
  TKELCOMM& peer() { return b.comm; }
  // The sender goes first and waits for the receiver's invitation.
  void Start(bool oursSends) {
    (oursSends ? ours() : peer()).StartUpload(source);
    (oursSends ? peer() : ours()).StartDownload(target);
  }
  // Stops the peer and gives the modem lines back; once the line, unpaced, is
  // quiet, both windows receive again and a next transfer the same way delivers.
  void ExpectWorksAgain(bool oursSends) {
    line->end(1).SetFarCts(true);
    line->end(1).SetFarRlsd(true);
    peer().RequestCancel();
    EXPECT_TRUE(WaitBothIdle(30s));
    line->SetOptions({});
    EXPECT_TRUE(WaitFor([&] { return line->end(0).Pending() + line->end(1).Pending() == 0; }, 30s));
    for (int end : {0, 1}) line->end(end).Write("hello");
    for (Station* s : {&a, &b})
      EXPECT_TRUE(WaitFor([s] { return s->window.Bytes().ends_with("hello"); }, 10s));
    WriteFile(source, data = RandomBytes(5000, 77));
    target = dir / "again.bin";
    Start(oursSends);
    ASSERT_TRUE(WaitBothIdle(60s)) << "the next transfer ends";
    EXPECT_EQ(ours().TranResult.load() + peer().TranResult.load(), 2);
    EXPECT_EQ(ReadFile(target), Kept(protocol, data));
  }

  Station &a = *sender, &b = *receiver;  // ours and the peer
  protType protocol;
  TempDir dir;
  std::string data, source = dir / "source.bin", target = dir / "received.bin";
};

}  // namespace faulttest
