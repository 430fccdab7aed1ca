// The transfer component class: the line
// tests on a virtual line and a pseudo-terminal, and the status record read
// across threads.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CommCollector.h"
#include "KelComm.h"
#include "PtyPair.h"
#include "VirtualLine.h"

using namespace std::chrono_literals;

namespace {

TEST(KelComm, LineTestsFollowTheFarEndOfAVirtualLine) {
  auto line = VirtualLine::Create("kelcomm-lines");
  TKELCOMM comm;
  comm.SetDevicePath("virtual:kelcomm-lines");
  comm.Open();
  auto& far = line->end(1);
  far.SetFarCts(true);
  far.SetFarRlsd(false);
  EXPECT_TRUE(comm.LineReady());
  EXPECT_FALSE(comm.CarrierOn());
  far.SetFarRlsd(true);
  EXPECT_TRUE(comm.CarrierOn());
  far.SetFarCts(false);
  EXPECT_FALSE(comm.LineReady()) << "read at each call, not cached";
  comm.Close();
  EXPECT_FALSE(comm.CarrierOn());
  VirtualLine::Remove("kelcomm-lines");
}

TEST(KelComm, PtyPeerHangingUpIsCarrierLoss) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  TKELCOMM comm;
  CommCollector rx(comm);
  comm.SetEventMask({evRlsd});
  comm.SetDevicePath(pty.slavePath());
  comm.Open();
  EXPECT_TRUE(comm.CarrierOn());
  EXPECT_TRUE(comm.LineReady());
  EXPECT_TRUE(comm.DsrState());
  ASSERT_TRUE(pty.WriteAll("bye\r\n"));
  EXPECT_EQ(rx.WaitBytes(5), "bye\r\n");
  pty.CloseMaster();
  ASSERT_TRUE(rx.WaitEvents(1));
  EXPECT_EQ(rx.Events()[0], TCommEventMask{evRlsd});
  EXPECT_FALSE(comm.CarrierOn());
  // Reported once: the hung-up line doesn't keep the watcher busy.
  EXPECT_FALSE(rx.WaitEvents(2, 300ms));
  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
}

TEST(KelComm, StatusTextsReadSafelyWhileWritten) {
  TKELCOMM comm;
  std::atomic<bool> done{false};
  std::atomic<bool> reading{false};
  std::thread writer([&] {
    while (!reading) std::this_thread::yield();  // overlap with the reader
    for (int i = 0; i < 20000; ++i) {
      comm.Status.RecvName.set(i % 2 ? std::string(100, 'a') : std::string("b"));
      comm.Status.TranSize.store(i);
    }
    done = true;
  });
  int seen = 0;
  reading = true;
  do {
    std::string s = comm.Status.RecvName.get();
    EXPECT_TRUE(s.empty() || s == "b" || s == std::string(100, 'a'));
    ++seen;
  } while (!done);
  writer.join();
  EXPECT_GT(seen, 1) << "the reader ran while the texts changed";
  EXPECT_EQ(comm.Status.TranSize.load(), 19999);
}

}  // namespace
