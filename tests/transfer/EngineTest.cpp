// The engine under the protocols: the receive ring, the waits and their
// cancellation, the start requests, and the handler swap around a transfer.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "Engine.h"
#include "Reference.h"
#include "Stations.h"

namespace {

using Clock = std::chrono::steady_clock;

// A component open on a line whose far end the test drives by hand.
struct Lone : ScriptedLine {
  Lone() : ScriptedLine(pr_XMODEM_SUM_128) {}
  TKELCOMM& comm() { return station->comm; }
  TKelEngine& engine() { return station->comm.Engine(); }
};

void Deliver(TKelEngine& e, const std::string& bytes) {
  e.Deliver(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Take(TKelEngine& e, size_t n) {
  std::string out(n, '\0');
  out.resize(static_cast<size_t>(
      e.TakeBytes(reinterpret_cast<uint8_t*>(out.data()), static_cast<int>(n))));
  return out;
}

TEST(Ring, FiftyThousandBytesWrapBothIndexesAndTheNextLandsAtZero) {
  Lone lone;
  TKelEngine& e = lone.engine();
  const std::string bytes = RandomBytes(50000, 1);
  std::string back;
  for (size_t at = 0; at < bytes.size(); at += 1000) {
    Deliver(e, bytes.substr(at, 1000));
    EXPECT_TRUE(e.RxPending());
    back += Take(e, 1000);
    EXPECT_FALSE(e.RxPending());
  }
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(e.RxHead(), 50000);  // wrapped lazily: just before the next use
  EXPECT_EQ(e.RxTail(), 50000);
  Deliver(e, "\xAB");
  EXPECT_EQ(e.RxHead(), 1);
  EXPECT_EQ(e.RxRingAt(0), 0xAB);
  EXPECT_EQ(e.NextByte(), 0xAB);
  EXPECT_EQ(e.RxTail(), 1);
  EXPECT_FALSE(e.RxPending());
  EXPECT_EQ(e.TakeBytes(nullptr, 0), 0);
}

TEST(Ring, MoreThanTheRingHoldsMakesTheProducerWaitAndLosesNothing) {
  Lone lone;
  TKelEngine& e = lone.engine();
  const std::string bytes = RandomBytes(60000, 2);
  std::atomic<bool> done{false};
  std::thread producer([&] {
    Deliver(e, bytes);
    done = true;
  });
  ASSERT_TRUE(WaitFor([&] { return e.RxCount() == kRxRingCapacity; }, 5s));
  EXPECT_FALSE(done.load()) << "the producer must wait for room";
  std::string back;
  ASSERT_TRUE(WaitFor(
      [&] {
        back += Take(e, 7000);
        return back.size() >= bytes.size();
      },
      5s));
  producer.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(back, bytes);
}

TEST(Ring, AWaitingProducerLetsGoWhenTheTransferEnds) {
  Lone lone;
  TKelEngine& e = lone.engine();
  Deliver(e, RandomBytes(kRxRingCapacity, 3));
  std::atomic<bool> done{false};
  std::thread producer([&] {
    Deliver(e, "more");
    done = true;
  });
  EXPECT_FALSE(WaitFor([&] { return done.load(); }, 50ms));
  e.EndFeed();
  EXPECT_TRUE(WaitFor([&] { return done.load(); }, 1s));
  producer.join();
  EXPECT_EQ(e.RxCount(), kRxRingCapacity) << "dropped, nothing overwritten";
  e.FlushRing();
  EXPECT_EQ(e.RxCount(), 0);
  EXPECT_FALSE(e.RxPending());
  e.BeginFeed();
}

struct WaitCase {
  const char* name;
  std::function<void(TKelEngine&)> wait;
};

class StopEndsWait : public ::testing::TestWithParam<WaitCase> {};

// Each wait runs on a thread of its own, standing in for the worker; the
// user's cancel and the loss of CTS each wake it and end it at once.
TEST_P(StopEndsWait, OnCancelAndOnLineLoss) {
  for (bool cancel : {true, false}) {
    Lone lone;
    TKelEngine& e = lone.engine();
    std::atomic<bool> started{false};
    Clock::time_point ended;
    std::thread worker([&] {
      started = true;
      GetParam().wait(e);
      ended = Clock::now();
    });
    ASSERT_TRUE(WaitFor([&] { return started.load(); }, 1s));
    const auto stopped = Clock::now();
    if (cancel)
      lone.comm().RequestCancel();
    else
      lone.line->end(1).SetFarCts(false);
    worker.join();
    EXPECT_LT(ended - stopped, 2s) << (cancel ? "cancel" : "CTS lost");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Waits, StopEndsWait,
    ::testing::Values(WaitCase{"WaitReply10",
                               [](TKelEngine& e) {
                                 uint8_t b;
                                 e.WaitReply(b, 10);
                               }},
                      WaitCase{"Delay60s", [](TKelEngine& e) { e.Delay(60000); }},
                      WaitCase{"WaitForData", [](TKelEngine& e) { e.WaitForData(); }},
                      WaitCase{"GetByte", [](TKelEngine& e) { e.GetByte(); }},
                      WaitCase{"SendInvite", [](TKelEngine& e) { e.SendInvite('C'); }},
                      WaitCase{"RecvByte",
                               [](TKelEngine& e) {
                                 bool failed = false;
                                 for (int i = 0; i < 100 && !failed; ++i) e.RecvByte(failed);
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Waits, ReplyWaitSkipsBytesOutsideTheReplySetAndKeepsTheLast) {
  Lone lone;
  TKelEngine& e = lone.engine();
  Deliver(e, "xyC");
  uint8_t b = 0;
  EXPECT_EQ(e.WaitReply(b, 1), 'C');
  EXPECT_EQ(b, 'C');
  Deliver(e, "q");
  std::thread canceller([&] {
    WaitFor([&] { return !e.RxPending(); }, 1s);
    lone.comm().RequestCancel();
  });
  EXPECT_EQ(e.WaitReply(b, 10), 'q');
  canceller.join();
}

// A block is collected with one wake-up: the worker sleeps through the
// partial hand-overs, wakes as soon as the whole count is in, and still
// notices a line that goes quiet halfway, by the silence rule.
TEST(Waits, CountWaitWakesAtTheCountAndEndsOnSilence) {
  Lone lone;
  TKelEngine& e = lone.engine();
  std::thread peer([&] {
    for (int i = 0; i < 10; ++i) {
      Deliver(e, RandomBytes(100, 4));
      std::this_thread::sleep_for(20ms);
    }
  });
  EXPECT_TRUE(e.WaitForCount(1000, 300));
  EXPECT_EQ(Take(e, 2000).size(), 1000u) << "woke before the count was in";
  peer.join();

  Deliver(e, RandomBytes(10, 5));
  auto start = Clock::now();
  EXPECT_TRUE(e.WaitForCount(100, 300)) << "the bytes that came are reported";
  EXPECT_GE(Clock::now() - start, 290ms);
  EXPECT_EQ(Take(e, 100).size(), 10u);

  start = Clock::now();
  EXPECT_FALSE(e.WaitForCount(10, 200));
  EXPECT_GE(Clock::now() - start, 190ms);
  // The next ordinary wait wakes on a single byte again.
  std::thread late([&] { Deliver(e, "x"); });
  start = Clock::now();
  EXPECT_TRUE(e.WaitArrival(2000));
  late.join();
  EXPECT_LT(Clock::now() - start, 1500ms) << "woke on the byte, not at the end of the wait";
}

TEST(Start, ASecondStartChangesNothingButTranResult) {
  Lone lone;
  TempDir dir;
  WriteFile(dir.File("other.bin"), "data");
  TKELCOMM& comm = lone.comm();
  comm.StartDownload(dir.File("in.bin"));
  EXPECT_EQ(comm.TranMode.load(), 2);
  EXPECT_EQ(comm.Status.FileSize.load(), kUnknownFileSize);
  ASSERT_TRUE(WaitFor([&] { return comm.TranResult.load() == 1; }, 2s));
  const uint32_t tick = comm.Status.StartTick.load();
  comm.StartUpload(dir.File("other.bin"), "x");
  EXPECT_EQ(comm.TranResult.load(), 0);
  EXPECT_EQ(comm.TranMode.load(), 2);
  EXPECT_EQ(comm.Status.FilePath.get(), dir.File("in.bin"));
  EXPECT_EQ(comm.Status.FileSize.load(), kUnknownFileSize);
  EXPECT_EQ(comm.Status.SendName.get(), "");
  comm.TranResult = 1;
  comm.StartDownload(dir.File("second.bin"));
  EXPECT_EQ(comm.TranResult.load(), 0);
  EXPECT_EQ(comm.TranMode.load(), 2);
  EXPECT_EQ(comm.Status.FilePath.get(), dir.File("in.bin"));
  EXPECT_EQ(comm.Status.StartTick.load(), tick);
  EXPECT_FALSE(FileExists(dir.File("second.bin")));
  comm.RequestCancel();
  EXPECT_TRUE(lone.station->WaitIdle(2s));
  EXPECT_EQ(comm.TranResult.load(), 0);
}

TEST(Start, UploadsWithoutBytesStartNothing) {
  Lone lone;
  TempDir dir;
  WriteFile(dir.File("empty.bin"), "");
  {
    // 2^31 bytes, sparse: too large for the 32-bit sizes of the protocols.
    const int fd = open(dir.File("huge.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{1} << 31), 0);
    close(fd);
  }
  TKELCOMM& comm = lone.comm();
  for (const char* name : {"empty.bin", "missing.bin", "huge.bin"}) {
    comm.TranResult = 1;
    comm.StartUpload(dir.File(name));
    EXPECT_EQ(comm.TranMode.load(), 0) << name;
    EXPECT_EQ(comm.TranResult.load(), 0) << name;
    EXPECT_EQ(lone.line->end(1).ReadFor(1, 30ms), "") << name;
  }
  EXPECT_EQ(comm.Status.SendName.get(), "huge.bin");
}

struct LossCase {
  protType protocol;
  bool upload;
};

class LineLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(LineLoss, EndsTheTransferAndGivesTheWindowItsHandlerBack) {
  Lone lone;
  TempDir dir;
  WriteFile(dir.File("out.bin"), RandomBytes(3000, 5));
  TKELCOMM& comm = lone.comm();
  comm.Protocol = GetParam().protocol;
  if (GetParam().upload)
    comm.StartUpload(dir.File("out.bin"));
  else
    comm.StartDownload(dir.File("in.bin"));
  ASSERT_NE(comm.TranMode.load(), 0);
  ASSERT_TRUE(WaitFor([&] { return comm.TranResult.load() == 1; }, 2s));
  if (!GetParam().upload) {
    EXPECT_FALSE(lone.line->end(1).ReadFor(1, 2s).empty()) << "the invitation";
  }
  const auto lost = Clock::now();
  lone.line->end(1).SetFarCts(false);
  ASSERT_TRUE(lone.station->WaitIdle(3s));
  EXPECT_LT(Clock::now() - lost, 1500ms);
  EXPECT_EQ(comm.TranResult.load(), 0);
  lone.line->end(1).Write("after");
  EXPECT_EQ(lone.station->window.WaitBytes(5, 2s), "after");
}

INSTANTIATE_TEST_SUITE_P(Protocols, LineLoss,
                         ::testing::Values(LossCase{pr_XMODEM_SUM_128, false},
                                           LossCase{pr_XMODEM_CRC_1024, true},
                                           LossCase{pr_YMODEM_G, false}));

TEST(Start, ClosingThePortEndsTheTransfer) {
  Lone lone;
  TempDir dir;
  TKELCOMM& comm = lone.comm();
  comm.Protocol = pr_YMODEM;
  comm.StartDownload(dir.File("in.bin"));
  ASSERT_TRUE(WaitFor([&] { return comm.TranResult.load() == 1; }, 2s));
  comm.Close();
  EXPECT_TRUE(lone.station->WaitIdle(3s));
  EXPECT_EQ(comm.TranResult.load(), 0);
}

}  // namespace
