// The engine under the protocols: the receive ring and the waits, and how a
// cancel or a lost line ends them.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "Engine.h"
#include "Reference.h"
#include "Stations.h"

namespace {

using Clock = std::chrono::steady_clock;

void Deliver(TKelEngine& e, const std::string& bytes) {
  e.Deliver(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Take(TKelEngine& e, size_t n) {
  std::string out(n, '\0');
  out.resize(static_cast<size_t>(
      e.TakeBytes(reinterpret_cast<uint8_t*>(out.data()), static_cast<int>(n))));
  return out;
}

// A full ring makes the producer wait rather than overwrite; the end of the
// transfer lets it go, its bytes dropped.
TEST(Ring, AFullRingHoldsTheProducerUntilTheTransferEnds) {
  ScriptedLine lone(pr_XMODEM_SUM_128);
  TKelEngine& e = lone.comm().Engine();
  const std::string first = RandomBytes(kRxRingCapacity, 3);
  Deliver(e, first);
  std::atomic<bool> done{false};
  std::thread producer([&] {
    Deliver(e, "more");
    done = true;
  });
  EXPECT_FALSE(WaitFor([&] { return done.load(); }, 50ms));
  e.EndFeed();
  EXPECT_TRUE(WaitFor([&] { return done.load(); }, 10s));
  producer.join();
  EXPECT_TRUE(Take(e, kRxRingCapacity + 10) == first) << "dropped, nothing overwritten";
  e.BeginFeed();
}

struct WaitCase {
  const char* name;
  std::function<void(TKelEngine&, uint8_t&, bool&)> wait;
};

class StopEndsWait : public ::testing::TestWithParam<WaitCase> {};

// Each wait runs on a thread of its own, standing in for the worker; the
// user's cancel and the loss of CTS each wake it and end it.
TEST_P(StopEndsWait, OnCancelAndOnLineLoss) {
  for (bool cancel : {true, false}) {
    ScriptedLine lone(pr_XMODEM_SUM_128);
    std::atomic<bool> ended{false};
    std::thread worker([&] {
      uint8_t byte = 0;
      bool failed = false;
      GetParam().wait(lone.comm().Engine(), byte, failed);
      ended = true;
    });
    if (cancel)
      lone.comm().RequestCancel();
    else
      lone.line->end(1).SetFarCts(false);
    EXPECT_TRUE(WaitFor([&] { return ended.load(); }, 5s)) << (cancel ? "cancel" : "CTS lost");
    worker.join();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Waits, StopEndsWait,
    ::testing::Values(
        WaitCase{"WaitReply", [](TKelEngine& e, uint8_t& b, bool&) { e.WaitReply(b, 10); }},
        WaitCase{"Delay60s", [](TKelEngine& e, uint8_t&, bool&) { e.Delay(60000); }},
        WaitCase{"WaitForData", [](TKelEngine& e, uint8_t&, bool&) { e.WaitForData(); }},
        WaitCase{"GetByte", [](TKelEngine& e, uint8_t&, bool&) { e.GetByte(); }},
        WaitCase{"SendInvite", [](TKelEngine& e, uint8_t&, bool&) { e.SendInvite('C'); }},
        WaitCase{"RecvByte",
                 [](TKelEngine& e, uint8_t&, bool& f) {
                   while (!f) e.RecvByte(f);
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

// A cancelled sender waits a while for a lost line; a closed port ends that.
TEST(Waits, WaitForTheLineAfterACancelEndsWhenThePortCloses) {
  ScriptedLine lone(pr_ZMODEM);
  TKelEngine& e = lone.comm().Engine();
  lone.line->end(1).SetFarCts(false);
  ASSERT_TRUE(WaitFor([&] { return !e.LineReady(); }, 5s));
  lone.comm().RequestCancel();
  auto waited = std::async(std::launch::async, [&] { e.WaitForLine(600000); });
  lone.comm().Close();
  EXPECT_EQ(waited.wait_for(10s), std::future_status::ready);
  lone.comm().CancelFlag = 0, e.Wake();  // a failing wait ends too
}

// A block is collected with one wake-up: the worker sleeps through the
// partial hand-overs, wakes as soon as the whole count is in, and still
// notices a line that goes quiet halfway, by the silence rule.
TEST(Waits, CountWaitWakesAtTheCountAndEndsOnSilence) {
  ScriptedLine lone(pr_XMODEM_SUM_128);
  TKelEngine& e = lone.comm().Engine();
  std::thread peer([&] {
    for (int i = 0; i < 10; ++i) {
      Deliver(e, RandomBytes(100, 4));
      std::this_thread::sleep_for(20ms);
    }
  });
  auto start = Clock::now();
  EXPECT_TRUE(e.WaitForCount(1000, 5000));
  EXPECT_LT(Clock::now() - start, 4s) << "woke on the silence, not at the count";
  EXPECT_EQ(Take(e, 2000).size(), 1000u) << "woke before the count was in";
  peer.join();

  Deliver(e, RandomBytes(10, 5));
  start = Clock::now();
  EXPECT_TRUE(e.WaitForCount(100, 300)) << "the bytes that came are reported";
  EXPECT_GE(Clock::now() - start, 290ms);
  EXPECT_EQ(Take(e, 100).size(), 10u);
  EXPECT_FALSE(e.WaitForCount(10, 200));
}

}  // namespace
