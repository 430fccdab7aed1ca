// What surrounds a ZMODEM download from sz: a second file offered in the
// same session is skipped (the user chose one path), a remote command is
// never run, and the host's prompt right behind the transfer reaches the
// screen rather than the transfer's drain.

#include <gtest/gtest.h>

#include <string>

#include "CommCollector.h"
#include "Peers.h"

namespace {

TEST(ZmodemSession, SecondFileIsSkippedAndTheSessionSucceeds) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz"}));
  TempDir dir;
  const std::string data = RandomBytes(5000, 1);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  ASSERT_TRUE(WriteFile(dir / "second.bin", RandomBytes(3000, 2)));
  LrzszPeer peer(dir, "sz data.bin second.bin");
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), pr_ZMODEM);
  comm->StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(*comm, 30000)) << peer.Log();
  ASSERT_TRUE(peer.WaitExit(15000)) << peer.Log();
  EXPECT_EQ(comm->TranResult.load(), 1) << peer.Log();
  EXPECT_TRUE(ReadFile(dir / "ours.bin") == data);
  EXPECT_EQ(comm->Status.RecvName.get(), "data.bin");
}

TEST(ZmodemSession, RemoteCommandIsNeverRun) {
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

// The receiver ends at the sender's "OO" instead of draining the line, so
// the prompt reaches the window's handler and none of the protocol's bytes
// do. (A prompt that shares one read with the "OO" would go to the ring.)
TEST(ZmodemSession, PromptAfterTheTransferReachesTheScreen) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sz"}));
  TempDir dir;
  const std::string data = RandomBytes(20000, 4);
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
  EXPECT_EQ(comm.TranResult.load(), 1) << peer.Log();
  EXPECT_TRUE(ReadFile(dir / "ours.bin") == data);
  EXPECT_EQ(window.WaitBytes(6, 3s), "PROMPT");
  comm.Close();
}

}  // namespace
