// Our XMODEM against lrzsz's sx and rx, both ways, in each of the three
// forms: rx without -c asks for the 8-bit sum, rx -c for CRC-16; sx follows
// the receiver's start byte, and sx -k sends 1024-byte blocks until less
// than a full one is left, then 128-byte blocks. Whatever the block size,
// the receiver keeps the fill of the last block, so the received file is
// the sent one followed by SUB bytes.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "Peers.h"
#include "LineRelay.h"

namespace {

struct XmodemCase {
  const char* label;
  protType protocol;
  bool oursSends;
  const char* peer;  // the lrzsz command, run in the test's folder
  size_t size;
  size_t unit;  // the received file is padded to a multiple of this
};

std::ostream& operator<<(std::ostream& os, const XmodemCase& c) { return os << c.label; }

class XmodemInterop : public ::testing::TestWithParam<XmodemCase> {};

TEST_P(XmodemInterop, FileArrivesWithTheLastBlockFilled) {
  const XmodemCase& c = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "sx", "rx"}));
  TempDir dir;
  const std::string data = RandomBytes(c.size, static_cast<uint32_t>(c.size));
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  LrzszPeer peer(dir, c.peer);
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), c.protocol);
  if (c.oursSends) {
    comm->StartUpload(dir / "data.bin", "data.bin");
  } else {
    comm->StartDownload(dir / "ours.bin");
  }
  ASSERT_TRUE(WaitTransferEnd(*comm, 30000)) << peer.Log();
  ASSERT_TRUE(peer.WaitExit(10000)) << peer.Log();
  EXPECT_EQ(comm->TranResult.load(), 1) << peer.Log();
  EXPECT_EQ(peer.ExitCode(), 0) << peer.Log();
  const std::string got = ReadFile(dir / (c.oursSends ? "recv.bin" : "ours.bin"));
  EXPECT_EQ(got.size(), PaddedTo(data, c.unit).size());
  EXPECT_TRUE(got == PaddedTo(data, c.unit));
}

INSTANTIATE_TEST_SUITE_P(
    Lrzsz, XmodemInterop,
    ::testing::Values(
        XmodemCase{"OursSumToRx_1", pr_XMODEM_SUM_128, true, "rx recv.bin", 1, 128},
        XmodemCase{"OursSumToRx_3000", pr_XMODEM_SUM_128, true, "rx recv.bin", 3000, 128},
        XmodemCase{"SxToOursSum_3000", pr_XMODEM_SUM_128, false, "sx data.bin", 3000, 128},
        XmodemCase{"SxToOursSum_128", pr_XMODEM_SUM_128, false, "sx data.bin", 128, 128},
        XmodemCase{"OursCrcToRxC_3000", pr_XMODEM_CRC_128, true, "rx -c recv.bin", 3000, 128},
        XmodemCase{"SxToOursCrc_3000", pr_XMODEM_CRC_128, false, "sx data.bin", 3000, 128},
        XmodemCase{"Ours1kToRxC_2100", pr_XMODEM_CRC_1024, true, "rx -c recv.bin", 2100, 1024},
        XmodemCase{"Ours1kToRxC_1024", pr_XMODEM_CRC_1024, true, "rx -c recv.bin", 1024, 1024},
        XmodemCase{"Sx1kToOurs1k_3000", pr_XMODEM_CRC_1024, false, "sx -k data.bin", 3000, 128},
        XmodemCase{"Sx1kToOurs1k_20000", pr_XMODEM_CRC_1024, false, "sx -k data.bin", 20000, 128}),
    [](const auto& info) { return std::string(info.param.label); });

// The same protocols on a paced line that damages bits: the blocks hit are
// asked for again and the file still arrives intact.
TEST(XmodemInteropNoisyLine, DamagedBlocksAreRepeatedBothWays) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sx", "rx"}));
  for (const bool oursSends : {true, false}) {
    SCOPED_TRACE(oursSends ? "ours to rx -c" : "sx -k to ours");
    TempDir dir;
    const std::string data = RandomBytes(24000, 11);
    ASSERT_TRUE(WriteFile(dir / "data.bin", data));
    LineRelay relay(LineRelay::Options{.speed = 115200, .bitErrorRate = 2e-5, .seed = 5});
    ASSERT_TRUE(relay.ok());
    auto comm = OpenOurSide(relay.PathB(), oursSends ? pr_XMODEM_CRC_128 : pr_XMODEM_CRC_1024);
    if (oursSends) comm->StartUpload(dir / "data.bin", "data.bin");
    LrzszPeer peer(dir, oursSends ? "rx -c recv.bin" : "sx -k data.bin", relay.PathA());
    if (!oursSends) comm->StartDownload(dir / "ours.bin");
    ASSERT_TRUE(WaitTransferEnd(*comm, 40000)) << peer.Log();
    ASSERT_TRUE(peer.WaitExit(10000)) << peer.Log();
    EXPECT_GT(relay.BitsFlipped(), 0u);
    EXPECT_EQ(comm->TranResult.load(), 1) << peer.Log();
    EXPECT_EQ(peer.ExitCode(), 0) << peer.Log();
    EXPECT_TRUE(ReadFile(dir / (oursSends ? "recv.bin" : "ours.bin")) == PaddedTo(data, 128));
  }
}

}  // namespace
