// Our sender and our receiver, each on its own component, joined by a
// virtual line: every protocol with files around the block boundaries, and
// on a noisy line.

#include <gtest/gtest.h>

#include <sstream>

#include "Engine.h"
#include "Reference.h"
#include "Stations.h"


namespace {

using Pair = StationPair;

bool IsXmodem(protType p) { return p <= pr_XMODEM_CRC_1024; }

// What an XMODEM receiver keeps: whole blocks, the last one filled with SUB.
size_t BlockedSize(protType p, size_t size) {
  const size_t block = (p == pr_XMODEM_CRC_1024 || !IsXmodem(p)) ? 1024 : 128;
  return (size + block - 1) / block * block;
}

struct LoopCase {
  protType protocol;
  size_t size;
};

std::string CaseName(const ::testing::TestParamInfo<LoopCase>& info) {
  const char* names[] = {"XSum", "XCrc", "X1k", "Ymodem", "YmodemG"};
  return std::string(names[info.param.protocol]) + "_" + std::to_string(info.param.size);
}

class Loopback : public ::testing::TestWithParam<LoopCase> {};

TEST_P(Loopback, DeliversTheFile) {
  const LoopCase& c = GetParam();
  TempDir dir;
  Pair pair(c.protocol);
  const std::string data = RandomBytes(c.size, static_cast<uint32_t>(c.size + c.protocol));
  WriteFile(dir.File("Data File.BIN"), data);
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  tx.StartUpload(dir.File("Data File.BIN"));
  // The sender waits for the receiver's invitation. Once the receiver runs,
  // a small file may be through before this thread looks again.
  ASSERT_EQ(tx.TranResult.load(), 1);
  ASSERT_EQ(tx.TranMode.load(), 1);
  rx.StartDownload(dir.File("received"));
  ASSERT_TRUE(pair.WaitBothIdle(60s));
  EXPECT_EQ(tx.TranResult.load(), 1);
  EXPECT_EQ(rx.TranResult.load(), 1);
  const std::string got = ReadFile(dir.File("received"));
  EXPECT_EQ(tx.Status.TranSize.load(), static_cast<int32_t>(BlockedSize(c.protocol, c.size)));
  EXPECT_EQ(tx.Status.SendName.get(), "Data File.BIN");
  if (IsXmodem(c.protocol)) {
    ASSERT_EQ(got.size(), BlockedSize(c.protocol, c.size));
    EXPECT_TRUE(got == Padded(data, got.size())) << "file bytes, then SUB up to the block end";
    EXPECT_EQ(rx.Status.RecvName.get(), "");
    EXPECT_EQ(rx.Status.FileSize.load(), kUnknownFileSize);
  } else {
    EXPECT_TRUE(got == data) << "exactly the announced size";
    EXPECT_EQ(rx.Status.RecvName.get(), "data file.bin");
    EXPECT_EQ(rx.Status.FileSize.load(), static_cast<int32_t>(c.size));
    EXPECT_EQ(rx.Status.TranSize.load(), static_cast<int32_t>(c.size));
  }
  // Both windows have their handlers back, and nothing of the transfer
  // spilled over to them.
  pair.line->end(0).Write("rx");
  pair.line->end(1).Write("tx");
  EXPECT_EQ(pair.receiver->window.WaitBytes(2, 2s), "rx");
  EXPECT_EQ(pair.sender->window.WaitBytes(2, 2s), "tx");
}

std::vector<LoopCase> AllCases() {
  std::vector<LoopCase> cases;
  for (protType p :
       {pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024, pr_YMODEM, pr_YMODEM_G})
    for (size_t size : {1, 127, 128, 129, 300, 1024, 1025, 2000, 256 * 1024})
      cases.push_back({p, size});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, Loopback, ::testing::ValuesIn(AllCases()), CaseName);

class EmptyFile : public ::testing::TestWithParam<protType> {};

// The sender refuses an empty file; the receiver goes on inviting until it
// is cancelled, then fails, leaving an empty file.
TEST_P(EmptyFile, SenderRefusesAndTheReceiverWaitsUntilCancelled) {
  TempDir dir;
  Pair pair(GetParam());
  WriteFile(dir.File("empty"), "");
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  tx.StartUpload(dir.File("empty"));
  EXPECT_EQ(tx.TranMode.load(), 0);
  EXPECT_EQ(tx.TranResult.load(), 0);
  rx.StartDownload(dir.File("received"));
  const std::string invite = IsXmodem(GetParam())
                                 ? std::string(1, GetParam() == pr_XMODEM_SUM_128 ? '\x15' : 'C')
                                 : std::string(" ") + (GetParam() == pr_YMODEM_G ? "G" : "C");
  EXPECT_EQ(pair.sender->window.WaitBytes(invite.size(), 2s), invite);
  EXPECT_EQ(rx.TranMode.load(), 2);
  rx.RequestCancel();
  ASSERT_TRUE(pair.WaitBothIdle(2s));
  EXPECT_EQ(rx.TranResult.load(), 0);
  EXPECT_TRUE(FileExists(dir.File("received")));
  EXPECT_EQ(ReadFile(dir.File("received")), "");
}

INSTANTIATE_TEST_SUITE_P(Protocols, EmptyFile,
                         ::testing::Values(pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024,
                                           pr_YMODEM, pr_YMODEM_G));

struct NoiseCase {
  protType protocol;
  size_t size;
  bool delivered;
};

class NoisyLine : public ::testing::TestWithParam<NoiseCase> {};

// At one flipped bit in 10^4 most 1024-byte blocks arrive damaged at least
// once: the acknowledged protocols repeat them, the streaming one gives up.
TEST_P(NoisyLine, AcknowledgedProtocolsRepeatStreamingOneCancels) {
  const NoiseCase& c = GetParam();
  TempDir dir;
  VirtualLine::Options options;
  options.speed = 115200;
  options.bitErrorRate = 1e-4;
  options.seed = 20240611;
  Pair pair(c.protocol, options);
  const std::string data = RandomBytes(c.size, 77);
  WriteFile(dir.File("noisy.bin"), data);
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  tx.StartUpload(dir.File("noisy.bin"));
  ASSERT_TRUE(WaitFor([&] { return tx.TranResult.load() == 1; }, 2s));
  rx.StartDownload(dir.File("received"));
  ASSERT_TRUE(pair.WaitBothIdle(60s));
  if (c.delivered) {
    EXPECT_EQ(tx.TranResult.load(), 1);
    EXPECT_EQ(rx.TranResult.load(), 1);
    const std::string got = ReadFile(dir.File("received"));
    EXPECT_TRUE(got ==
                (IsXmodem(c.protocol) ? Padded(data, BlockedSize(c.protocol, c.size)) : data));
  } else {
    EXPECT_EQ(tx.TranResult.load(), 0);
    EXPECT_EQ(rx.TranResult.load(), 0);
    EXPECT_LT(ReadFile(dir.File("received")).size(), data.size());
    EXPECT_LT(tx.Status.TranSize.load(), static_cast<int32_t>(c.size)) << "stopped early";
  }
}

INSTANTIATE_TEST_SUITE_P(BitErrors, NoisyLine,
                         ::testing::Values(NoiseCase{pr_XMODEM_SUM_128, 6000, true},
                                           NoiseCase{pr_XMODEM_CRC_128, 6000, true},
                                           NoiseCase{pr_XMODEM_CRC_1024, 8192, true},
                                           NoiseCase{pr_YMODEM, 8192, true},
                                           NoiseCase{pr_YMODEM_G, 256 * 1024, false}));

}  // namespace
