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
  const char* file = "Data File.BIN";  // UTF-8, as on disk
  const char* announced = "data file.bin";
  bool threeWires = false;  // CTS never on, flow control none
};

class Loopback : public ::testing::TestWithParam<LoopCase> {};

TEST_P(Loopback, Transfer) {
  const LoopCase& c = GetParam();
  TempDir dir;
  // M-LINK sends without pause; the noise needs a line that takes its time.
  const bool paced = c.protocol == pr_MLINK || c.bitErrorRate > 0;
  StationPair pair(c.protocol,
                   {.speed = paced ? 115200 : 0, .bitErrorRate = c.bitErrorRate, .seed = 20240611});
  TKELCOMM &tx = pair.sender->comm, &rx = pair.receiver->comm;
  rx.Times.StartPauseMs = 300;
  for (int end : {0, 1})  // and then no CTS on either side
    if (c.threeWires) (end ? rx : tx).SetFlowControls({}), pair.line->end(1 - end).SetFarCts(false);
  const std::string data = RandomBytes(c.size, static_cast<uint32_t>(c.size + c.protocol));
  WriteFile(dir.File(c.file), data);
  tx.StartUpload(dir.File(c.file));
  rx.StartDownload(dir.File("received"));
  if (c.size == 0) {
    // Never offered: the receiver invites until cancelled, its file empty.
    EXPECT_EQ(tx.TranResult.load(), 0);
    EXPECT_FALSE(pair.sender->window.WaitBytes(1, 5s).empty()) << "the invitation";
    rx.RequestCancel();
    ASSERT_TRUE(pair.WaitBothIdle(5s));
    EXPECT_EQ(rx.TranResult.load(), 0);
    EXPECT_TRUE(FileExists(dir.File("received")));
    return;
  }
  ASSERT_TRUE(pair.WaitBothIdle(60s));
  const std::string got = ReadFile(dir.File("received"));
  // Streaming gives up on a noisy line.
  const bool delivered = c.protocol != pr_YMODEM_G || c.bitErrorRate == 0;
  EXPECT_EQ(tx.TranResult.load(), delivered);
  EXPECT_EQ(rx.TranResult.load(), delivered);
  if (!delivered) {
    EXPECT_LT(tx.Status.TranSize.load(), static_cast<int32_t>(c.size)) << "stopped early";
    return;
  }
  // An XMODEM receiver keeps whole blocks, the last one filled with SUB.
  const size_t block = c.protocol == pr_XMODEM_CRC_1024 ? 1024 : 128;
  const bool xmodem = c.protocol <= pr_XMODEM_CRC_1024;
  EXPECT_TRUE(got == (xmodem ? PaddedTo(data, block) : data)) << got.size() << " bytes";
  if (c.bitErrorRate > 0 && c.protocol == pr_ZMODEM) {
    EXPECT_GT(tx.Status.TranSize.load(), static_cast<int32_t>(c.size)) << "sent again";
  } else {
    EXPECT_EQ(tx.Status.TranSize.load(), static_cast<int32_t>(c.size)) << "no padding counted";
  }
  if (c.bitErrorRate == 0 && !xmodem) {
    EXPECT_EQ(rx.Status.RecvName.get(), c.announced);
    EXPECT_EQ(rx.Status.FileSize.load(), static_cast<int32_t>(c.size));
  }
  // Both windows have their handlers back.
  pair.line->end(1).Write("tx");
  EXPECT_EQ(pair.sender->window.WaitBytes(2, 2s), "tx");
  pair.line->end(0).Write("rx");
  EXPECT_TRUE(WaitFor([&] { return pair.receiver->window.Bytes().ends_with("rx"); }, 10s));
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
        LoopCase{"Zmodem1025", pr_ZMODEM, 1025}, LoopCase{"ZmodemLarge", pr_ZMODEM, kLarge},
        LoopCase{"MLinkEmpty", pr_MLINK, 0},
        LoopCase{"MLink1024", pr_MLINK, 1024, 0, "Block.BIN", "Block.BIN"},
        LoopCase{"MLinkJapaneseName", pr_MLINK, 20000, 0, "日本語.dat",
                 "\x93\xfa\x96{\x8c\xea.dat"},
        // Noise: the acknowledged protocols repeat damaged blocks, ZMODEM
        // repositions, the streaming one gives up.
        LoopCase{"XSumNoisy", pr_XMODEM_SUM_128, 6000, 1e-4},
        LoopCase{"X1kNoisy", pr_XMODEM_CRC_1024, 8192, 1e-4},
        LoopCase{"YmodemNoisy", pr_YMODEM, 8192, 1e-4},
        LoopCase{"YmodemGNoisy", pr_YMODEM_G, kLarge, 1e-4},
        LoopCase{"ZmodemNoisy", pr_ZMODEM, 32 * 1024, 1e-5},
        LoopCase{.name = "Ymodem3Wires", .protocol = pr_YMODEM, .size = 1025, .threeWires = true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
