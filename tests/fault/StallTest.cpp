// A peer that floods our receiver with garbage, or starts a header and never
// finishes it. Our receiver must come back to inviting within its own waits,
// so that a sound sender started afterwards gets its file through; M-LINK,
// which never retries on the receiving side, fails at once instead, and the
// port goes on working.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "FaultPair.h"

using namespace faulttest;

namespace {

constexpr int kLineSpeed = 1'000'000;  // bit/s: 100 KB of garbage a second

enum class Hostility { Flood, StalledHeader };

struct StallCase {
  protType protocol;
  Hostility hostility;
};

std::string CaseName(const ::testing::TestParamInfo<StallCase>& info) {
  return std::string(Label(info.param.protocol)) +
         (info.param.hostility == Hostility::Flood ? "_Flood" : "_StalledHeader");
}

// The receiver's invitation as the peer hears it, counted in what it heard.
size_t Invitations(protType p, const std::string& heard) {
  const auto count = [&](const std::string& invite) {
    size_t n = 0;
    for (size_t at = heard.find(invite); at != heard.npos; at = heard.find(invite, at + 1)) ++n;
    return n;
  };
  // After a damaged block an XMODEM receiver, and a YMODEM one after its
  // header, asks with NAK whatever its first invitation was.
  if (p <= pr_XMODEM_CRC_1024) return count("\x15") + count("C");
  if (p == pr_YMODEM) return count("C");
  if (p == pr_YMODEM_G) return count("G");
  if (p == pr_ZMODEM) return count("\x18" "B01");  // ZRINIT
  return count("M");
}

// The first part of a header, as each protocol's sender would begin it.
std::string HeaderStart(protType p) {
  if (p <= pr_XMODEM_CRC_1024) return "\x01\x01\xfe" + std::string(60, 'x');
  if (p <= pr_YMODEM_G) return std::string("\x01\x00\xff" "stalled.bin\0" "12", 17);
  if (p == pr_ZMODEM) return "**\x18" "B0400";  // a hex ZFILE, cut after its type
  return "stalled.bin 12";                      // the size never ends
}

// Random bytes at the line's pace until told to stop or for the given time.
// CAN is left out: two of them are a sender's cancel, which ends any of our
// receivers at once.
void Flood(VirtualLine::End& end, std::chrono::milliseconds length,
           const std::atomic<bool>& stop = false) {
  std::mt19937 random(7);
  const auto until = Clock::now() + length;
  std::string chunk(2048, '\0');
  while (Clock::now() < until && !stop) {
    if (end.Pending() < chunk.size()) {
      for (char& c : chunk) {
        c = static_cast<char>(random());
        if (c == '\x18') c = '\x19';
      }
      end.Write(chunk);
    }
    std::this_thread::sleep_for(5ms);
  }
}

class Stall : public ::testing::TestWithParam<StallCase> {};

TEST_P(Stall, ReceiverInvitesAgainAndTakesTheNextSender) {
  const StallCase& c = GetParam();
  Pair pair(c.protocol, kLineSpeed, 3000, 11);
  pair.ours().StartDownload(pair.target);
  // The M-LINK receiver pauses 6 s before its first invitation.
  ASSERT_TRUE(WaitFor([&] { return Invitations(c.protocol, pair.HeardByPeer()) == 1; }, 10s));
  if (c.hostility == Hostility::Flood)
    Flood(pair.line->end(1), 4s);
  else
    pair.line->end(1).Write(HeaderStart(c.protocol));
  const size_t before = Invitations(c.protocol, pair.HeardByPeer());
  // XMODEM and YMODEM senders say nothing until invited: start one now, so
  // that it hears the next invitation. A ZMODEM sender begins by speaking,
  // which would end the stall; it starts once the receiver has invited again.
  if (c.protocol != pr_ZMODEM && c.protocol != pr_MLINK) pair.peer().StartUpload(pair.source);

  if (c.protocol == pr_MLINK) {
    // Garbage is no header, and a header that stops is refused: the
    // receiver fails and says so with "A".
    ASSERT_TRUE(pair.WaitIdle(pair.ours(), 3s));
    EXPECT_EQ(pair.ours().TranResult.load(), 0);
    EXPECT_TRUE(WaitFor([&] { return pair.HeardByPeer().find('A') != std::string::npos; }, 5s))
        << "the refusal reaches the sender";
  } else {
    // Garbage is drained for at most 10 s; a header cut short waits at most
    // the 10 s of a header hunt. Then the receiver invites again.
    ASSERT_TRUE(WaitFor(
        [&] { return Invitations(c.protocol, pair.HeardByPeer()) > before; }, 15s))
        << ::testing::PrintToString(pair.HeardByPeer());
    if (c.protocol == pr_ZMODEM) pair.peer().StartUpload(pair.source);
    ASSERT_TRUE(pair.WaitIdle(pair.ours(), 20s));
    ASSERT_TRUE(pair.WaitIdle(pair.peer(), 5s));
    EXPECT_EQ(pair.ours().TranResult.load(), 1);
    EXPECT_EQ(pair.peer().TranResult.load(), 1);
    EXPECT_EQ(ReadFile(pair.target), Kept(c.protocol, pair.data));
  }
  pair.Settle();
  EXPECT_TRUE(pair.WorksAgain(false));
}

// Every receiver at once, each under its own endless flood: the user's
// cancel ends it within a second or two while the garbage goes on.
TEST(Flood, CancelEndsEveryReceiverWhileTheGarbageGoesOn) {
  std::vector<std::unique_ptr<Pair>> pairs;
  for (protType p : kProtocols) {
    pairs.push_back(std::make_unique<Pair>(p, kLineSpeed, 1000, 3));
    pairs.back()->ours().StartDownload(pairs.back()->target);
  }
  std::atomic<bool> stop = false;
  std::vector<std::thread> floods;
  for (auto& pair : pairs) floods.emplace_back([&] { Flood(pair->line->end(1), 60s, stop); });
  std::this_thread::sleep_for(3s);
  for (auto& pair : pairs) pair->ours().RequestCancel();
  for (auto& pair : pairs) {
    SCOPED_TRACE(Label(pair->protocol));
    EXPECT_TRUE(pair->WaitIdle(pair->ours(), 2s));
    EXPECT_EQ(pair->ours().TranResult.load(), 0);
  }
  stop = true;
  for (auto& t : floods) t.join();
}

std::vector<StallCase> AllCases() {
  std::vector<StallCase> cases;
  for (protType p : kProtocols)
    for (Hostility h : {Hostility::Flood, Hostility::StalledHeader}) cases.push_back({p, h});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Peers, Stall, ::testing::ValuesIn(AllCases()), CaseName);

}  // namespace
