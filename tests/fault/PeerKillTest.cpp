// lrzsz killed in the middle of a transfer, on a pseudo-terminal of its
// own: its socat closes the pty, our side sees the carrier go, and the
// transfer ends at once as a failure, keeping what it had received. The
// component then closes, and opened on a new peer it receives the host's
// text and transfers again.

#include <gtest/gtest.h>
#include <signal.h>

#include <ostream>

#include "CommCollector.h"
#include "Peers.h"
#include "Reference.h"
#include "Stations.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct KillCase {
  const char* label;
  protType protocol;
  bool oursSends;
  const char* peer;  // the lrzsz command, run in the test's folder
};

std::ostream& operator<<(std::ostream& os, const KillCase& c) { return os << c.label; }

// The command in the background of a shell that tells its process id; the
// saved descriptor keeps its input the pty rather than /dev/null.
std::string Killable(const std::string& command) {
  return "exec 3<&0; " + command + " <&3 & echo $! >peer.pid; wait $!";
}

// rx keeps our 1024-byte blocks whole; sx ends with 128-byte ones.
std::string Kept(const KillCase& c, const std::string& data) {
  if (c.protocol > pr_XMODEM_CRC_1024) return data;
  return PaddedTo(data, c.oursSends ? 1024 : 128);
}

class PeerKilled : public ::testing::TestWithParam<KillCase> {};

TEST_P(PeerKilled, TransferEndsAtOnceAndTheComponentWorksOnANewPeer) {
  const KillCase& c = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz", "rz", "sb", "rb", "sx", "rx"}));
  TempDir dir;
  const std::string data = RandomBytes(4 << 20, 9);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  TKELCOMM comm;
  CommCollector window(comm);
  comm.Protocol = c.protocol;
  {
    LrzszPeer peer(dir, Killable(c.peer));
    ASSERT_TRUE(peer.Ready());
    comm.SetDevicePath(peer.device());
    comm.Open();
    c.oursSends ? comm.StartUpload(dir / "data.bin", "recv.bin")
                : comm.StartDownload(dir / "ours.bin");
    ASSERT_TRUE(WaitFor([&] { return comm.Status.TranSize.load() >= 64 * 1024; }, 10s))
        << peer.Log();
    const int pid = std::atoi(ReadFile(dir / "peer.pid").c_str());
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    const auto killed = Clock::now();
    // socat leaves half a second after its command, then the pty hangs up.
    ASSERT_TRUE(WaitTransferEnd(comm, 2000)) << peer.Log();
    EXPECT_LT(Clock::now() - killed, 1600ms);
    EXPECT_EQ(comm.TranResult.load(), 0);
    EXPECT_FALSE(comm.CarrierOn());
    if (!c.oursSends) {
      const std::string kept = ReadFile(dir / "ours.bin");
      EXPECT_GE(kept.size(), 64u * 1024);
      EXPECT_LT(kept.size(), data.size());
      EXPECT_TRUE(data.compare(0, kept.size(), kept) == 0) << "what was kept is the file's start";
    }
    const auto closing = Clock::now();
    comm.Close();
    EXPECT_LT(Clock::now() - closing, 1s);
  }
  const std::string again = RandomBytes(20000, 10);
  ASSERT_TRUE(WriteFile(dir / "data.bin", again));
  std::remove((dir / "recv.bin").c_str());
  LrzszPeer next(dir, std::string("printf HOST-TEXT; exec ") + c.peer);
  ASSERT_TRUE(next.Ready());
  comm.SetDevicePath(next.device());
  comm.Open();
  ASSERT_TRUE(
      WaitFor([&] { return window.Bytes().find("HOST-TEXT") != std::string::npos; }, 5s))
      << "the window's handler is back";
  c.oursSends ? comm.StartUpload(dir / "data.bin", "recv.bin")
              : comm.StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(comm, 20000)) << next.Log();
  EXPECT_EQ(comm.TranResult.load(), 1) << next.Log();
  ASSERT_TRUE(next.WaitExit(10000)) << next.Log();
  const std::string got = ReadFile(dir / (c.oursSends ? "recv.bin" : "ours.bin"));
  EXPECT_TRUE(got == Kept(c, again));
  comm.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Lrzsz, PeerKilled,
    ::testing::Values(KillCase{"OursToRz", pr_ZMODEM, true, "rz"},
                      KillCase{"SzToOurs", pr_ZMODEM, false, "sz data.bin"},
                      KillCase{"OursToRb", pr_YMODEM, true, "rb"},
                      KillCase{"SbToOurs", pr_YMODEM, false, "sb data.bin"},
                      KillCase{"OursToRx", pr_XMODEM_CRC_1024, true, "rx -c recv.bin"},
                      KillCase{"SxToOurs", pr_XMODEM_CRC_1024, false, "sx -k data.bin"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
