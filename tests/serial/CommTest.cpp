// TComm over the virtual line: data both ways, misuse, settings applied to the
// device block, and the watcher's notifications.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "Comm.h"
#include "CommCollector.h"
#include "VirtualLine.h"

using namespace std::chrono_literals;

namespace {

std::string AllByteValues() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

// Polls a condition the watcher thread makes true, up to a deadline.
template <typename P>
bool WaitUntil(P&& done, std::chrono::milliseconds patience = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  return done();
}

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
  void SetUp() override {
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    line_ = VirtualLine::Create(name_);
    comm_.SetDevicePath("virtual:" + name_);
  }
  void TearDown() override {
    comm_.Close();
    VirtualLine::Remove(name_);
  }
  VirtualLine::End& far() { return line_->end(1); }

  std::string name_;
  std::shared_ptr<VirtualLine> line_;
  TComm comm_;
};

TEST_F(CommOnVirtualLine, AllByteValuesTravelBothWays) {
  CommCollector rx(comm_);
  comm_.Open();
  const std::string all = AllByteValues();
  EXPECT_EQ(comm_.Write(all.data(), 256), 256);
  EXPECT_EQ(far().ReadFor(256, 5s), all);
  far().Write(all);
  EXPECT_EQ(rx.WaitBytes(256), all);
}

TEST_F(CommOnVirtualLine, OpenTwiceAndCloseTwiceAreHarmless) {
  comm_.Close();
  comm_.Open();
  comm_.Open();
  EXPECT_TRUE(comm_.IsOpen());
  EXPECT_TRUE(far().ModemStatus() & MS_DSR_ON) << "DTR raised after open";
  comm_.Close();
  comm_.Close();
  EXPECT_FALSE(comm_.IsOpen());
  EXPECT_FALSE(far().ModemStatus() & MS_DSR_ON) << "DTR dropped at close";
  comm_.Open();  // and it opens again
  TComm second;
  second.SetDevicePath("virtual:" + name_);
  EXPECT_THROW(second.Open(), ECommOpenError) << "the device is in use";
}

TEST_F(CommOnVirtualLine, MisuseRaisesTheComponentsMessages) {
  char buf[4] = {};
  EXPECT_EQ(MessageOf([&] { comm_.Write(buf, 1); }), "通信が開始されていない。");
  EXPECT_EQ(MessageOf([&] { comm_.Read(buf, 1); }), "通信が開始されていない。");
  EXPECT_THROW(comm_.WriteString("x"), ECommError);

  comm_.Open();
  std::string full(comm_.OutQueueSize(), 'a');
  EXPECT_EQ(comm_.WriteString(full), comm_.OutQueueSize());
  std::string tooLong(comm_.OutQueueSize() + 1, 'b');
  EXPECT_EQ(MessageOf([&] { comm_.WriteString(tooLong); }), "送信データ長が長すぎる。");
  EXPECT_EQ(far().ReadFor(full.size() + 1, 2s), full) << "nothing of the long write was sent";
}

TEST(CommOpen, MissingDeviceRaisesOpenErrorMinusOne) {
  for (std::string path : {"/dev/kelterm-no-such-device", "virtual:no-such-line"}) {
    TComm comm;
    comm.SetDevicePath(path);
    try {
      comm.Open();
      FAIL() << path << " opened";
    } catch (const ECommOpenError& e) {
      EXPECT_EQ(e.ErrorCode, -1);
      EXPECT_STREQ(e.what(), "オープンエラー ErrorCode = -1");
    }
    EXPECT_FALSE(comm.IsOpen());
  }
}

TEST(CommOpen, PortNumberNamesTheDefaultDevice) {
  TComm comm;
  for (int port = 1; port <= 4; ++port) {
    comm.SetPort(static_cast<uint8_t>(port));
    EXPECT_EQ(comm.ResolvedDevicePath(), "/dev/ttyS" + std::to_string(port - 1));
  }
  comm.SetDevicePath("virtual:x");
  EXPECT_EQ(comm.ResolvedDevicePath(), "virtual:x");
}

TEST_F(CommOnVirtualLine, SettingsReachTheDeviceBlock) {
  comm_.SetBaudRateUserDefined(250000);
  comm_.SetBaudRate(-1);
  comm_.SetParityBits(cpbMark);
  comm_.SetByteSize(cbs7);
  comm_.SetStopBits(csb2);
  comm_.SetFlowControls({cfcRtsCts, cfcHalfDuplex});
  comm_.Open();
  TDcb dcb = comm_.DeviceDcb();
  EXPECT_EQ(dcb.BaudRate, 250000u) << "BaudRate -1 uses BaudRateUserDefined";
  EXPECT_EQ(dcb.Parity, 3);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.StopBits, 2);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_TOGGLE) << "half duplex wins over RTS/CTS";
  EXPECT_TRUE(dcb.fOutxCtsFlow);
  EXPECT_EQ(dcb.XoffLim, 4096 - 3072);
  EXPECT_EQ(dcb.XonLim, 1024);

  // Changes while open apply at once.
  comm_.SetBaudRate(1200);
  comm_.SetFlowControls({cfcRtsCts, cfcDtrDsr, cfcXonXoff});
  dcb = comm_.DeviceDcb();
  EXPECT_EQ(dcb.BaudRate, 1200u);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_HANDSHAKE);
  EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_HANDSHAKE);
  EXPECT_TRUE(dcb.fOutxDsrFlow);
  EXPECT_TRUE(dcb.fOutX && dcb.fInX);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  comm_.SetFlowControls({});
  EXPECT_EQ(comm_.DeviceDcb().fRtsControl, RTS_CONTROL_ENABLE);
  EXPECT_FALSE(comm_.DeviceDcb().fOutxCtsFlow);
}

TEST_F(CommOnVirtualLine, CarrierChangesArriveAsRlsdEvents) {
  CommCollector rx(comm_);
  comm_.SetEventMask({evRlsd});
  comm_.Open();
  EXPECT_EQ(comm_.DeviceEventMask(), EV_RLSD | EV_RXCHAR);

  far().SetFarRlsd(true);
  ASSERT_TRUE(rx.WaitEvents(1));
  far().Write("hello");
  EXPECT_EQ(rx.WaitBytes(5), "hello");
  far().SetFarRlsd(false);
  ASSERT_TRUE(rx.WaitEvents(2));
  for (TCommEventMask e : rx.Events()) EXPECT_EQ(e, TCommEventMask{evRlsd});
  // CTS is not watched: its change raises nothing.
  far().SetFarCts(false);
  EXPECT_FALSE(rx.WaitEvents(3, 200ms));
}

TEST_F(CommOnVirtualLine, ReceivedBytesTakePrecedenceWithinOneWakeUp) {
  // The first receive notification is held until the far end has both sent
  // more bytes and dropped the carrier, so the next wake-up sees both.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  std::string order;
  std::mutex m;
  comm_.OnCommReceive = [&](TComm* c, uint16_t size) {
    std::string buf(size, '\0');
    c->Read(buf.data(), size);
    if (calls++ == 0) released.wait();
    std::lock_guard lock(m);
    order += 'R';
  };
  std::atomic<int> events{0};
  comm_.OnCommEvent = [&](TComm*, TCommEventMask) {
    std::lock_guard lock(m);
    order += 'E';
    ++events;
  };
  comm_.SetEventMask({evRlsd});
  far().SetFarRlsd(true);
  comm_.Open();
  far().Write("a");
  ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
  far().Write("b");
  far().SetFarRlsd(false);
  release.set_value();
  WaitUntil([&] { return events > 0; });
  std::lock_guard lock(m);
  EXPECT_EQ(order, "RRE") << "receive first; the carrier loss follows, not lost";
}

TEST_F(CommOnVirtualLine, MaskWithoutRxcharStopsReceiveNotifications) {
  CommCollector rx(comm_);
  comm_.Open();
  far().Write("one");
  EXPECT_EQ(rx.WaitBytes(3), "one");
  comm_.SetEventMask({evRlsd});  // replaces the mask, received characters too
  far().Write("two");
  EXPECT_EQ(rx.WaitBytes(6, 200ms), "one");
  comm_.SetEventMask({evRxchar, evRlsd});
  EXPECT_EQ(rx.WaitBytes(6), "onetwo");
}

TEST_F(CommOnVirtualLine, HandlerThatReadsNothingDoesNotSpin) {
  std::atomic<int> calls{0};
  comm_.OnCommReceive = [&](TComm*, uint16_t) { ++calls; };
  comm_.Open();
  far().Write("x");
  ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(calls.load(), 100) << "retried gently, not in a tight loop";
}

TEST_F(CommOnVirtualLine, CloseFromInsideANotificationReturns) {
  std::promise<void> closed;
  comm_.OnCommReceive = [&](TComm* c, uint16_t) {
    c->Close();
    closed.set_value();
  };
  comm_.Open();
  far().Write("x");
  EXPECT_EQ(closed.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(comm_.IsOpen());
}

TEST_F(CommOnVirtualLine, HandlerExceptionsAreReportedAndWatchingGoesOn) {
  std::mutex m;
  std::vector<std::string> reported;
  comm_.OnWatcherException = [&](const std::string& msg) {
    std::lock_guard lock(m);
    reported.push_back(msg);
  };
  std::atomic<int> calls{0};
  comm_.OnCommReceive = [&](TComm* c, uint16_t size) {
    std::string buf(size, '\0');
    c->Read(buf.data(), size);
    if (calls++ == 0) throw std::runtime_error("boom");
  };
  comm_.Open();
  far().Write("1");
  ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
  far().Write("2");
  EXPECT_TRUE(WaitUntil([&] { return calls == 2; }));
  std::lock_guard lock(m);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "boom");
}

TEST_F(CommOnVirtualLine, TransmitEmptyIsReportedAfterAWrite) {
  std::promise<uint16_t> empty;
  std::atomic<bool> once{false};
  comm_.OnCommTransmit = [&](TComm*, uint16_t size) {
    if (!once.exchange(true)) empty.set_value(size);
  };
  comm_.SetEventMask({evTxempty});
  comm_.Open();
  comm_.WriteString("abc");
  auto f = empty.get_future();
  ASSERT_EQ(f.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(f.get(), 0);
}

TEST_F(CommOnVirtualLine, SwappedReceiveHandlerGetsEverythingAfterTheSwap) {
  CommCollector first(comm_);
  comm_.Open();
  far().Write("before");
  EXPECT_EQ(first.WaitBytes(6), "before");
  TComm dummy;
  CommCollector second(dummy);  // borrow its handler
  auto previous = comm_.SwapCommReceive(dummy.OnCommReceive);
  EXPECT_TRUE(previous);
  far().Write("after");
  EXPECT_EQ(second.WaitBytes(5), "after");
  EXPECT_EQ(first.Bytes(), "before");
}

TEST_F(CommOnVirtualLine, IdleOpenPortCostsNoCpu) {
  comm_.SetEventMask({evRlsd});
  comm_.OnCommReceive = [](TComm*, uint16_t) {};
  comm_.Open();
  auto cpu = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000L + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
  };
  long before = cpu();
  std::this_thread::sleep_for(500ms);
  EXPECT_LT(cpu() - before, 20000) << "microseconds of CPU in half a second idle";
}

}  // namespace
