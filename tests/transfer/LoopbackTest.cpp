// Our sender and our receiver, each on its own component, joined by a
// virtual line: every protocol with the sizes that matter, the empty file
// that is never offered, and a noisy line.

#include <gtest/gtest.h>

#include "Reference.h"
#include "Stations.h"

namespace {

struct LoopCase {
  const char* name;
  protType protocol;
  size_t size;                         // 0: the empty file
  double bitErrorRate = 0;             // a noisy line
  bool delivered = true;               // false: both ends fail
  const char* file = "Data File.BIN";  // UTF-8, as on disk
  const char* announced = "data file.bin";
};

bool IsXmodem(protType p) { return p <= pr_XMODEM_CRC_1024; }

// What an XMODEM receiver keeps: whole blocks, the last one filled with SUB.
size_t KeptSize(const LoopCase& c) {
  if (!IsXmodem(c.protocol)) return c.size;
  const size_t block = c.protocol == pr_XMODEM_CRC_1024 ? 1024 : 128;
  return (c.size + block - 1) / block * block;
}

VirtualLine::Options LineFor(const LoopCase& c) {
  VirtualLine::Options o;
  o.bitErrorRate = c.bitErrorRate;
  o.seed = 20240611;
  // M-LINK sends without pause; the noise needs a line that takes its time.
  if (c.protocol == pr_MLINK || c.bitErrorRate > 0) o.speed = 115200;
  return o;
}

class Loopback : public ::testing::TestWithParam<LoopCase> {};

TEST_P(Loopback, Transfer) {
  const LoopCase& c = GetParam();
  TempDir dir;
  StationPair pair(c.protocol, LineFor(c));
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  rx.Times.StartPauseMs = 300;
  const std::string data = RandomBytes(c.size, static_cast<uint32_t>(c.size + c.protocol));
  WriteFile(dir.File(c.file), data);
  tx.StartUpload(dir.File(c.file));
  rx.StartDownload(dir.File("received"));
  if (c.size == 0) {
    // Never offered: the receiver invites until it is cancelled and keeps
    // the empty file it made.
    EXPECT_EQ(tx.TranResult.load(), 0);
    EXPECT_FALSE(pair.sender->window.WaitBytes(1, 5s).empty()) << "the invitation";
    EXPECT_EQ(rx.TranMode.load(), 2);
    rx.RequestCancel();
    ASSERT_TRUE(pair.WaitBothIdle(5s));
    EXPECT_EQ(rx.TranResult.load(), 0);
    EXPECT_TRUE(FileExists(dir.File("received")));
    EXPECT_EQ(ReadFile(dir.File("received")), "");
    return;
  }
  ASSERT_TRUE(pair.WaitBothIdle(60s));
  const std::string got = ReadFile(dir.File("received"));
  if (!c.delivered) {
    EXPECT_EQ(tx.TranResult.load(), 0);
    EXPECT_EQ(rx.TranResult.load(), 0);
    EXPECT_LT(got.size(), data.size());
    EXPECT_LT(tx.Status.TranSize.load(), static_cast<int32_t>(c.size)) << "stopped early";
    return;
  }
  EXPECT_EQ(tx.TranResult.load(), 1);
  EXPECT_EQ(rx.TranResult.load(), 1);
  ASSERT_EQ(got.size(), KeptSize(c));
  EXPECT_TRUE(got == Padded(data, got.size())) << "the file, then SUB up to a block's end";
  if (c.bitErrorRate > 0 && c.protocol == pr_ZMODEM) {
    EXPECT_GT(tx.Status.TranSize.load(), static_cast<int32_t>(KeptSize(c))) << "sent again";
  } else if (c.bitErrorRate == 0 && !IsXmodem(c.protocol)) {
    EXPECT_EQ(rx.Status.RecvName.get(), c.announced);
    EXPECT_EQ(rx.Status.FileSize.load(), static_cast<int32_t>(c.size));
    EXPECT_EQ(rx.Status.TranSize.load(), static_cast<int32_t>(c.size));
  }
  // Both windows have their handlers back; of the transfer at most the
  // closing CR reached them (ZMODEM's sender speaks before it is asked).
  pair.line->end(0).Write("rx");
  pair.line->end(1).Write("tx");
  std::string spilled;
  EXPECT_TRUE(WaitFor(
      [&] {
        spilled = pair.receiver->window.Bytes();
        return spilled.size() >= 2 && spilled.substr(spilled.size() - 2) == "rx";
      },
      2s));
  if (c.protocol != pr_ZMODEM) {
    EXPECT_EQ(spilled.find_first_not_of('\r'), spilled.size() - 2) << spilled;
  }
  EXPECT_EQ(pair.sender->window.WaitBytes(2, 2s), "tx");
}

constexpr size_t kLarge = 256 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Protocols, Loopback,
    ::testing::Values(
        LoopCase{"XSumEmpty", pr_XMODEM_SUM_128, 0}, LoopCase{"XSum1", pr_XMODEM_SUM_128, 1},
        LoopCase{"XSum129", pr_XMODEM_SUM_128, 129}, LoopCase{"XCrc128", pr_XMODEM_CRC_128, 128},
        LoopCase{"XCrc1025", pr_XMODEM_CRC_128, 1025}, LoopCase{"X1k1", pr_XMODEM_CRC_1024, 1},
        LoopCase{"X1k1024", pr_XMODEM_CRC_1024, 1024},
        LoopCase{"X1kLarge", pr_XMODEM_CRC_1024, kLarge}, LoopCase{"YmodemEmpty", pr_YMODEM, 0},
        LoopCase{"Ymodem1", pr_YMODEM, 1}, LoopCase{"Ymodem1024", pr_YMODEM, 1024},
        LoopCase{"Ymodem1025", pr_YMODEM, 1025}, LoopCase{"YmodemGEmpty", pr_YMODEM_G, 0},
        LoopCase{"YmodemG1025", pr_YMODEM_G, 1025}, LoopCase{"YmodemGLarge", pr_YMODEM_G, kLarge},
        LoopCase{"ZmodemEmpty", pr_ZMODEM, 0}, LoopCase{"Zmodem1", pr_ZMODEM, 1},
        LoopCase{"Zmodem1024", pr_ZMODEM, 1024}, LoopCase{"Zmodem1025", pr_ZMODEM, 1025},
        LoopCase{"ZmodemLarge", pr_ZMODEM, kLarge}, LoopCase{"MLinkEmpty", pr_MLINK, 0},
        LoopCase{"MLink1", pr_MLINK, 1, 0, true, "one.bin", "one.bin"},
        LoopCase{"MLink1024", pr_MLINK, 1024, 0, true, "Block.BIN", "Block.BIN"},
        LoopCase{"MLinkJapaneseName", pr_MLINK, 20000, 0, true, "日本語.dat",
                 "\x93\xfa\x96{\x8c\xea.dat"},
        // Noise: the acknowledged protocols repeat damaged blocks, ZMODEM
        // repositions, the streaming one gives up.
        LoopCase{"XSumNoisy", pr_XMODEM_SUM_128, 6000, 1e-4},
        LoopCase{"X1kNoisy", pr_XMODEM_CRC_1024, 8192, 1e-4},
        LoopCase{"YmodemNoisy", pr_YMODEM, 8192, 1e-4},
        LoopCase{"YmodemGNoisy", pr_YMODEM_G, kLarge, 1e-4, false},
        LoopCase{"ZmodemNoisy", pr_ZMODEM, 32 * 1024, 1e-5}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
