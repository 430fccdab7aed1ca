// TComm on the virtual line: data, misuse, line events, and the watcher with
// handlers that close the port, throw, or read nothing.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <tuple>

#include "Comm.h"
#include "CommCollector.h"
#include "FlowChoice.h"
#include "PtyPair.h"
#include "Stations.h"

namespace {

template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

class CommOnVirtualLine : public ::testing::Test {
 protected:
  CommOnVirtualLine() { comm_.SetDevicePath("virtual:" + name_), far().SetRts(true); }
  ~CommOnVirtualLine() override {
    comm_.Close();
    VirtualLine::Remove(name_);
  }
  VirtualLine::End& far() { return line_->end(1); }
  std::string name_ = UniqueLineName("comm");
  std::shared_ptr<VirtualLine> line_ = VirtualLine::Create(name_);
  TComm comm_;
  std::atomic<int> calls_{0};
};

// DTR (the modem's "terminal ready") follows the port; the device is held
// until Close, which lets the queued bytes leave first and like Open may come
// twice.
TEST_F(CommOnVirtualLine, DtrFollowsThePortAndTheDeviceIsHeldUntilClose) {
  comm_.Open();
  comm_.Open();
  EXPECT_TRUE(far().ModemStatus() & MS_DSR_ON);
  TComm second;
  second.SetDevicePath("virtual:" + name_);
  EXPECT_THROW(second.Open(), ECommOpenError);
  line_->SetOptions({.speed = 9600});
  const std::string last(300, 'z');  // still queued on the paced line at the close
  comm_.WriteString(last);
  comm_.Close();
  EXPECT_EQ(far().ReadFor(last.size(), 30s), last);
  comm_.Close();
  EXPECT_FALSE(far().ModemStatus() & MS_DSR_ON);
  EXPECT_NO_THROW(second.Open());
}

// A write longer than the output queue is refused whole, not cut; a speed
// the device cannot run is refused, at open and while open.
TEST_F(CommOnVirtualLine, MisuseAndOpenFailuresRaiseAndSendNothing) {
  char buf[1] = {};
  EXPECT_EQ(MessageOf([&] { comm_.Write(buf, 1); }), "通信が開始されていない。");
  comm_.SetDevicePath("virtual:no-such-line");
  EXPECT_EQ(MessageOf([&] { comm_.Open(); }), "オープンエラー ErrorCode = -1");
  comm_.SetDevicePath("virtual:" + name_);
  comm_.Open();
  const std::string full(comm_.OutQueueSize() + 1, 'a');
  EXPECT_EQ(MessageOf([&] { comm_.WriteString(full); }), "送信データ長が長すぎる。");
  EXPECT_EQ(far().ReadFor(1, 100ms), "");
  comm_.Close();
  PtyPair pty;
  for (const std::string& path : {"virtual:" + name_, pty.slavePath()}) {
    comm_.SetDevicePath(path);
    comm_.SetBaudRate(0);  // no line runs it: refused aloud, the port stays closed
    EXPECT_EQ(MessageOf([&] { comm_.Open(); }), "設定エラー BaudRate = 0") << path;
    EXPECT_FALSE(comm_.IsOpen());
    comm_.SetBaudRate(2400);
    comm_.Open();
    EXPECT_EQ(MessageOf([&] { comm_.SetBaudRate(-7); }), "設定エラー BaudRate = -7") << path;
    EXPECT_EQ(comm_.DeviceDcb().BaudRate, 2400u);
    comm_.Close();
  }
}

// The watcher is held while the far end sends and then drops the carrier,
// so one wake-up finds both: the bytes come first, the loss is not lost.
TEST_F(CommOnVirtualLine, ReceivedBytesTakePrecedenceWithinOneWakeUp) {
  CommCollector rx(comm_);
  comm_.SetEventMask({evRlsd});
  far().SetFarRlsd(true);
  comm_.Open();
  line_->end(0).HoldWait();
  far().Write("last words");
  far().SetFarRlsd(false);
  line_->end(0).ReleaseWait();
  ASSERT_TRUE(rx.WaitEvents(1));
  EXPECT_EQ(rx.Order(), "RE");
  EXPECT_EQ(rx.Events()[0], TCommEventMask{evRlsd});
  EXPECT_EQ(comm_.LineState() & MS_RLSD_ON, 0u);
}

// The far side holds our output by CTS (on the virtual line) or XOFF, sends "m"
// to see the hold land, and releases it: only the chosen flow control holds.
TEST_F(CommOnVirtualLine, TheChosenFlowControlHoldsAndReleasesTheOutput) {
  PtyPair pty;
  const std::tuple<TFlowChoice, bool, bool, bool> rows[] = {
      {fcRtsCts, 0, 1, 1},  {fcNone, 0, 1, 0}, {fcXonXoff, 0, 0, 1},
      {fcXonXoff, 1, 0, 1}, {fcNone, 0, 0, 0}, {fcNone, 1, 0, 0}};  // flow, pty, by CTS, held
  for (const auto& [flow, onPty, byCts, held] : rows) {
    SCOPED_TRACE(testing::Message() << "flow " << flow << (onPty ? " on a pty" : ""));
    const auto send = [&](std::string b) {
      onPty ? void(write(pty.master(), b.data(), b.size())) : far().Write(b);
    };
    const auto read = [&](size_t n, auto wait) {
      return onPty ? pty.Read(n, int(wait.count())) : far().ReadFor(n, wait);
    };
    const bool dataXoff = !byCts && !held;  // an XOFF nobody takes is data
    TComm comm;
    CommCollector rx(comm);
    comm.SetDevicePath(onPty ? pty.slavePath() : "virtual:" + name_);
    comm.SetFlowControls(FlowControlsOf(flow)), comm.Open();
    byCts ? far().SetRts(false) : send("\x13");
    send("m");
    ASSERT_TRUE(rx.WaitBytes(1 + dataXoff).ends_with('m'));
    // A stopped pty takes nothing: the write waits (up to a second) for the XON.
    auto writer = std::async(std::launch::async, [&] { return comm.WriteString("data"); });
    const std::string early = read(4, held ? 200ms : 5000ms);
    byCts ? far().SetRts(true) : send("\x11");
    EXPECT_EQ(early, held ? "" : "data");
    EXPECT_EQ(early + read(4 - early.size(), 5000ms), "data");
    EXPECT_EQ(rx.WaitBytes(1 + 2 * dataXoff), dataXoff ? "\x13m\x11" : "m");
  }
}

TEST_F(CommOnVirtualLine, CloseFromInsideANotificationReturns) {
  std::promise<void> closed;
  comm_.OnCommReceive = [&](TComm* c, uint16_t) { c->Close(), closed.set_value(); };
  comm_.Open();
  far().Write("x");
  EXPECT_EQ(closed.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(comm_.IsOpen());
}

TEST_F(CommOnVirtualLine, HandlerExceptionsAreReportedAndWatchingGoesOn) {
  std::vector<std::string> reported;  // the watcher's alone until Close
  comm_.OnWatcherException = [&](const std::string& msg) { reported.push_back(msg); };
  comm_.OnCommReceive = [&](TComm* c, uint16_t size) {
    std::string buf(size, '\0');
    c->Read(buf.data(), size);
    if (calls_++ == 0) throw std::runtime_error("boom");
  };
  comm_.Open();
  for (int n : {1, 2}) {
    far().Write("x");
    ASSERT_TRUE(WaitFor([&] { return calls_ == n; }, 5s));
  }
  comm_.Close();
  EXPECT_EQ(reported, std::vector<std::string>{"boom"});
}

TEST_F(CommOnVirtualLine, HandlerThatReadsNothingDoesNotSpin) {
  comm_.OnCommReceive = [&](TComm*, uint16_t) { ++calls_; };
  comm_.Open();
  far().Write("x");
  ASSERT_TRUE(WaitFor([&] { return calls_ > 0; }, 5s));
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(calls_.load(), 100) << "retried gently, not in a tight loop";
}

}  // namespace
