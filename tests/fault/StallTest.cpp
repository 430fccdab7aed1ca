// A peer that floods our receiver with garbage, or starts a header and never
// finishes it. The receiver comes back to inviting within its own waits and
// takes a sound sender started afterwards; M-LINK, which never retries on
// the receiving side, refuses at once instead. And the user's cancel ends
// every receiver while the garbage goes on.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "Engine.h"
#include "FaultPair.h"

using namespace faulttest;

namespace {

constexpr int kLineSpeed = 1'000'000;  // bit/s: 100 KB of garbage a second
// XMODEM is represented here by its sum form.
constexpr protType kReceivers[] = {pr_XMODEM_SUM_128, pr_YMODEM, pr_ZMODEM, pr_MLINK};

// The receiver's invitations as the peer heard them. After a damaged block
// an XMODEM receiver, and a YMODEM one after its header, asks with NAK.
size_t Invitations(protType p, const std::string& heard) {
  const auto count = [&](const std::string& invite) {
    size_t n = 0;
    for (size_t at = heard.find(invite); at != heard.npos; at = heard.find(invite, at + 1)) ++n;
    return n;
  };
  if (p <= pr_XMODEM_CRC_1024) return count("\x15") + count("C");
  if (p == pr_YMODEM) return count("C");
  return p == pr_ZMODEM ? count(
                              "\x18"
                              "B01")
                        : count("M");  // ZRINIT
}

// The first part of a header, as each protocol's sender would begin it.
std::string HeaderStart(protType p) {
  if (p <= pr_XMODEM_CRC_1024) return "\x01\x01\xfe" + std::string(60, 'x');
  if (p == pr_YMODEM)
    return std::string(
        "\x01\x00\xff"
        "stalled.bin\0"
        "12",
        17);
  return p == pr_ZMODEM ? "**\x18"
                          "B0400"
                        : "stalled.bin 12";  // the size never ends
}

// Random bytes without CAN (two are a sender's cancel) at the line's pace.
void Flood(VirtualLine::End& end, std::chrono::milliseconds length, const std::atomic<bool>& stop) {
  std::mt19937 random(7);
  std::string chunk(2048, '\0');
  for (const auto until = std::chrono::steady_clock::now() + length;
       std::chrono::steady_clock::now() < until && !stop;) {
    for (char& c : chunk) {
      const unsigned b = random() & 0xFF;
      c = static_cast<char>(b == 0x18 ? 0x19 : b);
    }
    if (end.Pending() < chunk.size()) end.Write(chunk);
    std::this_thread::sleep_for(5ms);
  }
}

class Stall : public ::testing::TestWithParam<std::tuple<protType, bool>> {};

TEST_P(Stall, ReceiverInvitesAgainAndTakesTheNextSender) {
  const auto [p, flood] = GetParam();
  Pair pair(p, kLineSpeed, 3000, 11);
  pair.ours().StartDownload(pair.target);
  ASSERT_TRUE(WaitFor([&] { return Invitations(p, pair.HeardByPeer()) == 1; }, 30s));
  const std::atomic<bool> never{false};
  flood ? Flood(pair.line->end(1), 2s, never) : pair.line->end(1).Write(HeaderStart(p));
  const size_t before = Invitations(p, pair.HeardByPeer());
  // XMODEM and YMODEM senders wait for an invitation: start one now. A
  // ZMODEM sender speaks first, so it starts once the receiver invited again.
  if (p != pr_ZMODEM && p != pr_MLINK) pair.peer().StartUpload(pair.source);
  if (p == pr_MLINK) {
    ASSERT_TRUE(pair.a->WaitIdle(30s));
    EXPECT_EQ(pair.ours().TranResult.load(), 0);
    EXPECT_TRUE(WaitFor([&] { return pair.HeardByPeer().find('A') != std::string::npos; }, 10s))
        << "the refusal reaches the sender";
  } else {
    ASSERT_TRUE(WaitFor([&] { return Invitations(p, pair.HeardByPeer()) > before; }, 30s));
    if (p == pr_ZMODEM) pair.peer().StartUpload(pair.source);
    ASSERT_TRUE(pair.a->WaitIdle(60s) && pair.b->WaitIdle(30s));
    EXPECT_EQ(pair.ours().TranResult.load(), 1);
    EXPECT_EQ(ReadFile(pair.target), Kept(p, pair.data));
  }
  pair.Settle();
  EXPECT_TRUE(pair.WorksAgain(false));
}

INSTANTIATE_TEST_SUITE_P(Peers, Stall,
                         ::testing::Combine(::testing::ValuesIn(kReceivers), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(Label(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "_Flood" : "_StalledHeader");
                         });

TEST(Flood, CancelEndsEveryReceiverWhileTheGarbageGoesOn) {
  std::vector<std::unique_ptr<Pair>> pairs;
  for (protType p : kFamilies) {
    pairs.push_back(std::make_unique<Pair>(p, kLineSpeed, 1000, 3));
    pairs.back()->ours().StartDownload(pairs.back()->target);
  }
  std::atomic<bool> stop = false;
  std::vector<std::thread> floods;
  for (auto& pair : pairs) floods.emplace_back([&] { Flood(pair->line->end(1), 60s, stop); });
  for (auto& pair : pairs) WaitFor([&] { return pair->ours().Engine().RxHead() > 0; }, 10s);
  for (auto& pair : pairs) pair->ours().RequestCancel();
  for (auto& pair : pairs) {
    EXPECT_TRUE(pair->a->WaitIdle(30s)) << Label(pair->protocol);
    EXPECT_EQ(pair->ours().TranResult.load(), 0);
  }
  stop = true;
  for (auto& t : floods) t.join();
}

}  // namespace
