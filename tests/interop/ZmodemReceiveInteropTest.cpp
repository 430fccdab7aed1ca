// lrzsz's sz sending to our ZMODEM receiver on a pty: the files compared
// byte for byte, with CRC-32 and CRC-16, with every control byte escaped,
// with a second file offered, with subpackets longer than we take, with a
// remote command, with sz killed half-way, and with a shell prompt right
// behind the transfer.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>

#include "CommCollector.h"
#include "Peers.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Every byte value, the "@" CR pair that some networks take for a command,
// and random bytes.
std::string Payload(size_t size, uint32_t seed) {
  std::string data = RandomBytes(size, seed);
  for (size_t i = 0; i < size && i < 256; ++i) data[i] = static_cast<char>(i);
  for (size_t i = 300; i + 2 <= size && i < 2000; i += 97) data.replace(i, 2, "@\r");
  return data;
}

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!pred()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

struct SzCase {
  const char* label;
  const char* options;
  size_t size;
  bool mustArrive;  // false: a clean failure is acceptable too
};

std::ostream& operator<<(std::ostream& os, const SzCase& c) { return os << c.label; }

class ZmodemSzToOurs : public ::testing::TestWithParam<SzCase> {};

TEST_P(ZmodemSzToOurs, FileArrivesIntact) {
  const SzCase& c = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz"}));
  TempDir dir;
  const std::string data = Payload(c.size, static_cast<uint32_t>(c.size) + 7);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  LrzszPeer peer(dir, std::string("sz ") + c.options + " data.bin");
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), pr_ZMODEM);
  comm->StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(*comm, 60000)) << peer.Log();
  ASSERT_TRUE(peer.WaitExit(15000)) << peer.Log();
  if (!c.mustArrive && comm->TranResult.load() == 0) {
    EXPECT_NE(peer.ExitCode(), 0) << "a failure on both sides, not a silent loss";
    return;
  }
  EXPECT_EQ(comm->TranResult.load(), 1) << peer.Log();
  EXPECT_EQ(peer.ExitCode(), 0) << peer.Log();
  EXPECT_TRUE(ReadFile(dir / "ours.bin") == data) << peer.Log();
  EXPECT_EQ(comm->Status.RecvName.get(), "data.bin");
  EXPECT_EQ(comm->Status.FileSize.load(), static_cast<int32_t>(c.size));
}

INSTANTIATE_TEST_SUITE_P(Lrzsz, ZmodemSzToOurs,
                         ::testing::Values(SzCase{"Crc32_0", "", 0, true},
                                           SzCase{"Crc32_1", "", 1, true},
                                           SzCase{"Crc32_1024", "", 1024, true},
                                           SzCase{"Crc32_1025", "", 1025, true},
                                           SzCase{"Crc32_300000", "", 300000, true},
                                           SzCase{"Crc16_70000", "--16-bit-crc", 70000, true},
                                           SzCase{"EscapeAll_70000", "-e", 70000, true},
                                           SzCase{"Try8k_100000", "-8", 100000, false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ZmodemSzToOursSession, SecondFileIsSkippedAndTheSessionSucceeds) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz"}));
  TempDir dir;
  const std::string data = Payload(5000, 1);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  ASSERT_TRUE(WriteFile(dir / "second.bin", Payload(3000, 2)));
  LrzszPeer peer(dir, "sz data.bin second.bin");
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), pr_ZMODEM);
  comm->StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(*comm, 30000)) << peer.Log();
  ASSERT_TRUE(peer.WaitExit(15000)) << peer.Log();
  EXPECT_EQ(comm->TranResult.load(), 1) << peer.Log();
  EXPECT_TRUE(ReadFile(dir / "ours.bin") == data);
  EXPECT_EQ(comm->Status.RecvName.get(), "second.bin");
  EXPECT_EQ(comm->Status.FileSize.load(), 3000);
}

TEST(ZmodemSzToOursSession, RemoteCommandIsNeverRun) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz"}));
  TempDir dir;
  LrzszPeer peer(dir, "sz -c 'touch " + (dir / "ran") + "'");
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), pr_ZMODEM);
  comm->StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(*comm, 30000)) << peer.Log();
  ASSERT_TRUE(peer.WaitExit(15000)) << peer.Log();
  EXPECT_FALSE(FileExists(dir / "ran"));
  EXPECT_EQ(ReadFile(dir / "ours.bin"), "");
}

// sz dies without a word: our receiver gives up, says so, and keeps what
// it had.
TEST(ZmodemSzToOursSession, KilledSenderFailsTheTransferAndKeepsThePartialFile) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz"}));
  TempDir dir;
  const std::string data = Payload(16 << 20, 3);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  // A background job's input would be /dev/null without the saved descriptor.
  LrzszPeer peer(dir, "exec 3<&0; sz data.bin <&3 & echo $! >sz.pid; wait $!");
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), pr_ZMODEM);
  comm->StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitUntil([&] { return comm->Status.TranSize.load() > 0; }, 10s)) << peer.Log();
  const int pid = std::atoi(ReadFile(dir / "sz.pid").c_str());
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(WaitTransferEnd(*comm, 15000)) << peer.Log();
  EXPECT_EQ(comm->TranResult.load(), 0);
  const std::string kept = ReadFile(dir / "ours.bin");
  EXPECT_GT(kept.size(), 0u);
  EXPECT_LT(kept.size(), data.size());
  EXPECT_TRUE(data.compare(0, kept.size(), kept) == 0) << "what was kept is the file's start";
}

// The host's prompt that follows the transfer belongs on the screen: the
// receiver ends at the sender's "OO" instead of draining the line, so the
// prompt reaches the window's handler, and none of the protocol's bytes do.
// (A prompt that shares one read with the "OO" is still taken by the ring.)
TEST(ZmodemSzToOursSession, PromptAfterTheTransferReachesTheScreen) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz"}));
  TempDir dir;
  const std::string data = Payload(20000, 4);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  LrzszPeer peer(dir, "sz data.bin; sleep 0.2; printf PROMPT; sleep 3");
  ASSERT_TRUE(peer.Ready());
  TKELCOMM comm;
  CommCollector window(comm);
  comm.SetDevicePath(peer.device());
  comm.Protocol = pr_ZMODEM;
  comm.Open();
  comm.StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(comm, 30000)) << peer.Log();
  const auto ended = Clock::now();
  EXPECT_EQ(comm.TranResult.load(), 1) << peer.Log();
  EXPECT_TRUE(ReadFile(dir / "ours.bin") == data);
  EXPECT_EQ(window.WaitBytes(6, 2s), "PROMPT");
  EXPECT_LT(Clock::now() - ended, 2s);
  comm.Close();
}

}  // namespace
