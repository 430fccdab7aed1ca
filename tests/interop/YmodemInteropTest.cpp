// Our YMODEM against lrzsz's sb and rb, both ways, and our YMODEM-G
// receiver against sb, which streams without acknowledgements once the
// receiver asks with "G". YMODEM carries the file's size in its header, so
// the received file is exactly the sent one, whatever fill the last block
// had. Sizes around the block sizes: sb -k sends 1024-byte blocks while more
// than 896 bytes are left, then 128-byte ones.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "Peers.h"

namespace {

struct YmodemCase {
  const char* label;
  protType protocol;
  bool oursSends;
  const char* peer;
  size_t size;
};

std::ostream& operator<<(std::ostream& os, const YmodemCase& c) { return os << c.label; }

class YmodemInterop : public ::testing::TestWithParam<YmodemCase> {};

// The peer runs in the test's folder: sb announces "data.bin", rb writes
// the name our sender announces, "Recv.BIN" in lower case as the header
// carries it.
TEST_P(YmodemInterop, FileArrivesWithItsExactSizeAndName) {
  const YmodemCase& c = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "sb", "rb"}));
  TempDir dir;
  const std::string data = RandomBytes(c.size, static_cast<uint32_t>(c.size) + 1);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  LrzszPeer peer(dir, c.peer);
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), c.protocol);
  if (c.oursSends) {
    comm->StartUpload(dir / "data.bin", "Recv.BIN");
  } else {
    comm->StartDownload(dir / "ours.bin");
  }
  ASSERT_TRUE(WaitTransferEnd(*comm, 30000)) << peer.Log();
  ASSERT_TRUE(peer.WaitExit(15000)) << peer.Log();
  EXPECT_EQ(comm->TranResult.load(), 1) << peer.Log();
  EXPECT_EQ(peer.ExitCode(), 0) << peer.Log();
  if (c.oursSends) {
    EXPECT_TRUE(FileExists(dir / "recv.bin"));
    EXPECT_TRUE(ReadFile(dir / "recv.bin") == data);
  } else {
    // An empty file too: the header announces size 0 and the file is made.
    EXPECT_TRUE(FileExists(dir / "ours.bin"));
    EXPECT_TRUE(ReadFile(dir / "ours.bin") == data);
    EXPECT_EQ(comm->Status.RecvName.get(), "data.bin");
    EXPECT_EQ(comm->Status.FileSize.load(), static_cast<int32_t>(c.size));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lrzsz, YmodemInterop,
    ::testing::Values(YmodemCase{"OursToRb_896", pr_YMODEM, true, "rb", 896},
                      YmodemCase{"OursToRb_897", pr_YMODEM, true, "rb", 897},
                      YmodemCase{"OursToRb_1025", pr_YMODEM, true, "rb", 1025},
                      YmodemCase{"OursToRb_70000", pr_YMODEM, true, "rb", 70000},
                      YmodemCase{"SbToOurs_0", pr_YMODEM, false, "sb -k data.bin", 0},
                      YmodemCase{"SbToOurs_896", pr_YMODEM, false, "sb -k data.bin", 896},
                      YmodemCase{"SbToOurs_897", pr_YMODEM, false, "sb -k data.bin", 897},
                      YmodemCase{"SbToOurs_1025", pr_YMODEM, false, "sb -k data.bin", 1025},
                      YmodemCase{"SbToOursG_1025", pr_YMODEM_G, false, "sb -k data.bin", 1025},
                      YmodemCase{"SbToOursG_200000", pr_YMODEM_G, false, "sb -k data.bin", 200000},
                      YmodemCase{"Sb128ToOursG_3000", pr_YMODEM_G, false, "sb data.bin", 3000}),
    [](const auto& info) { return std::string(info.param.label); });

// An empty file is not offered at all: nothing starts, the result says so,
// and rb is left waiting with nothing written.
TEST(YmodemInteropEmptyFile, OurSenderRefusesAnEmptyFile) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "rb"}));
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "empty.bin", ""));
  LrzszPeer peer(dir, "rb");
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), pr_YMODEM);
  comm->TranResult = 1;
  comm->StartUpload(dir / "empty.bin", "Recv.BIN");
  EXPECT_EQ(comm->TranMode.load(), 0);
  EXPECT_EQ(comm->TranResult.load(), 0);
  EXPECT_FALSE(peer.WaitExit(500));
  EXPECT_FALSE(FileExists(dir / "recv.bin"));
}

}  // namespace
