// A peer that floods our receiver with garbage, or starts a header and never
// ends it. The receiver invites again within its own waits and takes a sound
// sender started afterwards; M-LINK, which never retries as a receiver,
// refuses at once. And a cancel ends every receiver while the garbage goes on.

#include <algorithm>

#include "FaultPair.h"

using namespace faulttest;
using namespace std::string_literals;

namespace {

constexpr int kLineSpeed = 1'000'000;  // bit/s: 100 KB of garbage take a second

// Random bytes without CAN (two are a sender's cancel).
std::string Garbage(size_t size) {
  std::string g = RandomBytes(size, 7);
  std::replace(g.begin(), g.end(), '\x18', '\x19');
  return g;
}

// XMODEM stands here in its sum form: a CRC receiver's NAK after the damage
// starts the late sender with sums, and only its fifth try of the first block
// comes with a CRC, a second or two of waits per try.
struct Receiver {
  protType protocol;
  std::string invite;       // how it asks for the next header
  std::string headerStart;  // a sender's first bytes, never finished
};
const Receiver kReceivers[] = {{pr_XMODEM_SUM_128, "\025", "\001\001\376" + std::string(60, 'x')},
                               {pr_YMODEM, "C", "\001\000\377stalled.bin\00012"s},
                               {pr_ZMODEM, "\030B01", "**\030B0400"},
                               {pr_MLINK, "M", "stalled.bin 12"}};  // the size never ends

// How often what reached the peer (its ring, which doesn't wrap here, then
// its window) holds what.
size_t Count(Pair& pair, const std::string& what) {
  TKelEngine& e = pair.peer().Engine();
  std::string heard;
  for (int32_t i = 0; i < e.RxHead(); ++i) heard += static_cast<char>(e.RxRingAt(i));
  heard += pair.b.window.Bytes();
  size_t n = 0;
  for (size_t at = heard.find(what); at != heard.npos; at = heard.find(what, at + 1)) ++n;
  return n;
}

class Stall : public ::testing::TestWithParam<std::tuple<Receiver, bool>> {};

TEST_P(Stall, ReceiverInvitesAgainAndTakesTheNextSender) {
  const auto& [r, flood] = GetParam();
  Pair pair(r.protocol, kLineSpeed, 3000, 11);
  pair.ours().StartDownload(pair.target);
  ASSERT_TRUE(WaitFor([&] { return Count(pair, r.invite) == 1; }, 30s));
  pair.line->end(1).Write(flood ? Garbage(200'000) : r.headerStart);
  ASSERT_TRUE(WaitFor([&] { return pair.line->end(1).Pending() == 0; }, 30s));
  const size_t before = Count(pair, r.invite);
  // A ZMODEM sender speaks first, so it starts once the receiver invited.
  if (r.protocol <= pr_YMODEM_G) pair.peer().StartUpload(pair.source);
  if (r.protocol == pr_MLINK) {
    ASSERT_TRUE(pair.a.WaitIdle(30s));
    EXPECT_EQ(pair.ours().TranResult.load(), 0);
    EXPECT_TRUE(WaitFor([&] { return Count(pair, "A") > 0; }, 10s)) << "the sender hears no";
  } else {
    ASSERT_TRUE(WaitFor([&] { return Count(pair, r.invite) > before; }, 30s));
    if (r.protocol == pr_ZMODEM) pair.peer().StartUpload(pair.source);
    ASSERT_TRUE(pair.WaitBothIdle(60s));
    EXPECT_EQ(pair.ours().TranResult.load(), 1);
    EXPECT_EQ(ReadFile(pair.target), Kept(r.protocol, pair.data));
  }
  pair.Settle();
  pair.ExpectWorksAgain(false);
}

INSTANTIATE_TEST_SUITE_P(Peers, Stall,
                         ::testing::Combine(::testing::ValuesIn(kReceivers), ::testing::Bool()),
                         [](const auto& info) {
                           return Label(std::get<0>(info.param).protocol) +
                                  (std::get<1>(info.param) ? "_Flood" : "_StalledHeader");
                         });

TEST(Flood, CancelEndsEveryReceiverWhileTheGarbageGoesOn) {
  std::vector<std::unique_ptr<Pair>> pairs;
  for (protType p : kFamilies) {
    Pair& pair = *pairs.emplace_back(std::make_unique<Pair>(p, kLineSpeed, 1000, 3));
    pair.ours().StartDownload(pair.target);
    pair.line->end(1).Write(Garbage(3'000'000));
  }
  for (auto& pair : pairs) WaitFor([&] { return pair->ours().Engine().RxHead() > 20000; }, 10s);
  for (auto& pair : pairs) pair->ours().RequestCancel();
  for (auto& pair : pairs) {
    EXPECT_TRUE(pair->a.WaitIdle(30s)) << Label(pair->protocol);
    EXPECT_EQ(pair->ours().TranResult.load(), 0);
    EXPECT_GT(pair->line->end(1).Pending(), 0u) << "the garbage still comes";
  }
}

}  // namespace
