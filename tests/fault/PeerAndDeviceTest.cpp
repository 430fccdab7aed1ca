// The other side vanishes: lrzsz killed in the middle of a transfer (its
// socat then closes the pty), or a device that goes away under us. The
// transfer ends as a failure with its part kept, and the component closes,
// opens again and works. A device already open elsewhere is refused.

#include <signal.h>

#include <gtest/gtest.h>

#include "CommCollector.h"
#include "FaultPair.h"
#include "Peers.h"
#include "PtyPair.h"

using namespace faulttest;

namespace {

struct KillRow {
  protType protocol;
  bool oursSends;
  const char* peer;  // the lrzsz command, run in the test's folder
};

class PeerKilled : public ::testing::TestWithParam<KillRow> {};

TEST_P(PeerKilled, TransferFailsKeepsItsPartAndWorksWithTheNextPeer) {
  const KillRow& c = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz", "rb", "sx"}));
  TempDir dir;
  const std::string data = RandomBytes(4 << 20, 9), again = RandomBytes(20000, 10);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  TKELCOMM comm;
  CommCollector window(comm);
  comm.Protocol = c.protocol;
  {
    // In the background of a shell that tells its id; fd 3 keeps its input the pty.
    LrzszPeer peer(dir, "exec 3<&0; " + std::string(c.peer) + " <&3 & echo $! >pid; wait $!");
    ASSERT_TRUE(peer.Ready());
    comm.SetDevicePath(peer.device());
    comm.Open();
    c.oursSends ? comm.StartUpload(dir / "data.bin", "recv.bin")
                : comm.StartDownload(dir / "ours.bin");
    ASSERT_TRUE(WaitFor([&] { return comm.Status.TranSize.load() >= 65536; }, 30s)) << peer.Log();
    const int pid = std::atoi(ReadFile(dir / "pid").c_str());
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(WaitTransferEnd(comm, 30000)) << peer.Log();
    EXPECT_EQ(comm.TranResult.load(), 0);
    const std::string kept = ReadFile(dir / "ours.bin");
    EXPECT_GE(kept.size(), c.oursSends ? 0u : 65536u) << "the part received is kept";
    EXPECT_TRUE(data.compare(0, kept.size(), kept) == 0);
    comm.Close();
  }
  ASSERT_TRUE(WriteFile(dir / "data.bin", again));
  std::remove((dir / "recv.bin").c_str());  // rb skips a file that exists
  LrzszPeer next(dir, "printf HOST-TEXT; exec " + std::string(c.peer));
  ASSERT_TRUE(next.Ready());
  comm.SetDevicePath(next.device());
  comm.Open();
  EXPECT_TRUE(WaitFor([&] { return window.Bytes().find("HOST-TEXT") != std::string::npos; }, 10s))
      << "the window's handler is back";
  c.oursSends ? comm.StartUpload(dir / "data.bin", "recv.bin")
              : comm.StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(comm, 60000)) << next.Log();
  EXPECT_EQ(comm.TranResult.load(), 1) << next.Log();
  EXPECT_TRUE(ReadFile(dir / (c.oursSends ? "recv.bin" : "ours.bin")) == Kept(c.protocol, again));
  comm.Close();
}

INSTANTIATE_TEST_SUITE_P(Lrzsz, PeerKilled,
                         ::testing::Values(KillRow{pr_XMODEM_CRC_128, false, "sx data.bin"},
                                           KillRow{pr_YMODEM, true, "rb"},
                                           KillRow{pr_ZMODEM, false, "sz data.bin"}),
                         [](const auto& info) { return std::string(Label(info.param.protocol)); });

class DeviceFault : public ::testing::TestWithParam<bool> {};

TEST_P(DeviceFault, SecondOpenIsRefusedAndADeviceThatGoesEndsTheTransfer) {
  const bool pty = GetParam();
  PtyPair master;
  const std::string name = UniqueLineName("gone");
  auto line = VirtualLine::Create(name);
  line->end(1).SetRts(true);
  line->end(1).SetDtr(true);
  TempDir dir;
  TKELCOMM comm, second;
  CommCollector window(comm);
  comm.SetDevicePath(pty ? master.slavePath() : "virtual:" + name);
  second.SetDevicePath(comm.DevicePath());
  comm.Protocol = pr_XMODEM_CRC_128;
  comm.SetEventMask({evCts, evRlsd});
  comm.Open();
  EXPECT_THROW(second.Open(), ECommOpenError);
  comm.StartDownload(dir / "in.bin");
  EXPECT_EQ(pty ? master.Read(1, 10000) : line->end(1).ReadFor(1, 10s), "C") << "it invites";
  if (pty) {
    master.CloseMaster();
  } else {
    line->end(1).SetDtr(false);
    VirtualLine::Remove(name);
  }
  EXPECT_TRUE(WaitFor([&] { return window.Events().size() > 0 && !comm.CarrierOn(); }, 10s));
  EXPECT_TRUE(WaitTransferEnd(comm, 10000));
  EXPECT_EQ(comm.TranResult.load(), 0);
  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeviceFault, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pty" : "VirtualLine"; });

}  // namespace
