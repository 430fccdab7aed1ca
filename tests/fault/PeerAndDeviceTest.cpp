// The other side vanishes: lrzsz killed in the middle of a transfer (its
// socat then closes the pty), or the device goes away under us. The transfer
// fails with its part kept, and the component opens again and works. A
// device already open elsewhere is refused.

#include <signal.h>

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
  const auto [protocol, oursSends, command] = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz", "rb", "sx"}));
  TempDir dir;
  const std::string data = RandomBytes(4 << 20, 9), again = RandomBytes(20000, 10);
  TKELCOMM comm;
  CommCollector window(comm);
  comm.Protocol = protocol;
  ShortenWaits(comm);
  const auto open = [&](LrzszPeer& peer) {
    ASSERT_TRUE(peer.Ready());
    comm.SetDevicePath(peer.device());
    comm.Open();
  };
  const auto start = [&] {
    oursSends ? comm.StartUpload(dir / "data.bin", "recv.bin")
              : comm.StartDownload(dir / "ours.bin");
  };
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  {
    // The shell tells the peer's id; fd 3 keeps the pty as the peer's input.
    LrzszPeer peer(dir, "exec 3<&0; " + std::string(command) + " <&3 & echo $! >pid; wait $!");
    open(peer);
    start();
    ASSERT_TRUE(WaitFor([&] { return comm.Status.TranSize >= 65536; }, 30s)) << peer.Log();
    const int pid = std::atoi(ReadFile(dir / "pid").c_str());
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(WaitTransferEnd(comm, 30000)) << peer.Log();
    EXPECT_EQ(comm.TranResult.load(), 0);
    const std::string kept = ReadFile(dir / "ours.bin");
    EXPECT_GE(kept.size(), oursSends ? 0u : 65536u) << "the part received is kept";
    EXPECT_EQ(data.compare(0, kept.size(), kept), 0);
    comm.Close();
  }
  ASSERT_TRUE(WriteFile(dir / "data.bin", again));
  std::remove((dir / "recv.bin").c_str());  // rb skips a file that exists
  LrzszPeer next(dir, "printf HOST-TEXT; exec " + std::string(command));
  open(next);
  EXPECT_TRUE(WaitFor([&] { return window.Bytes().find("HOST-TEXT") != std::string::npos; }, 10s))
      << "the window's handler is back";
  start();
  ASSERT_TRUE(WaitTransferEnd(comm, 60000)) << next.Log();
  EXPECT_EQ(comm.TranResult.load(), 1) << next.Log();
  EXPECT_TRUE(ReadFile(dir / (oursSends ? "recv.bin" : "ours.bin")) == Kept(protocol, again));
}

INSTANTIATE_TEST_SUITE_P(Lrzsz, PeerKilled,
                         ::testing::Values(KillRow{pr_XMODEM_CRC_128, false, "sx data.bin"},
                                           KillRow{pr_YMODEM, true, "rb"},
                                           KillRow{pr_ZMODEM, false, "sz data.bin"}),
                         [](const auto& info) { return Label(info.param.protocol); });

class DeviceFault : public ::testing::TestWithParam<bool> {};

TEST_P(DeviceFault, SecondOpenIsRefusedAndADeviceThatGoesEndsTheTransfer) {
  const bool pty = GetParam();
  PtyPair master;
  ScriptedLine line(pr_XMODEM_CRC_128);  // opens on the line; moved to the pty
  TKELCOMM &comm = line.comm(), second;
  TempDir dir;
  comm.Close();
  if (pty) comm.SetDevicePath(master.slavePath());
  comm.SetEventMask({evCts, evRlsd});
  comm.Open();
  second.SetDevicePath(comm.DevicePath());
  EXPECT_THROW(second.Open(), ECommOpenError);
  comm.StartDownload(dir / "in.bin");
  EXPECT_EQ(pty ? master.Read(1, 10000) : line.Read(1, 10s), "C") << "it invites";
  if (pty) master.CloseMaster();
  if (!pty) line.line->end(1).SetDtr(false);
  if (!pty) VirtualLine::Remove(line.name);
  EXPECT_TRUE(
      WaitFor([&] { return !line.station->window.Events().empty() && !comm.CarrierOn(); }, 10s));
  EXPECT_TRUE(line.station->WaitIdle(10s));
  EXPECT_EQ(comm.TranResult.load(), 0);
  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeviceFault, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pty" : "VirtualLine"; });

}  // namespace
