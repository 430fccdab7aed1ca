// The demo line from the KelTerm end: the modem, and the host's transfers.

#include <gtest/gtest.h>

#include "DemoLine.h"
#include "Reference.h"
#include "ShiftJisText.h"
#include "Stations.h"

namespace {

constexpr size_t npos = std::string::npos;

struct Demo {
  Demo() { comm.SetDevicePath("virtual:" + name), comm.Open(); }
  ~Demo() { comm.Close(); }  // before the collector goes
  // What came since the last call, up to and with text; "" when it did not.
  std::string Until(const std::string& text, std::chrono::milliseconds timeout = 5s) {
    std::string all;
    size_t at = 0;
    if (!WaitFor([&] { return (at = (all = rx.Bytes()).find(text, mark)) != npos; }, timeout))
      return "";
    const size_t from = std::exchange(mark, at + text.size());
    return all.substr(from, mark - from);
  }
  bool Dial() { return comm.WriteString("ATDT03-1234-5678\r"), !Until(kPrompt).empty(); }
  const std::string kPrompt = ShiftJisFromUtf8("番号を選んでください> ");
  std::string name = UniqueLineName("demo");
  std::unique_ptr<DemoLine> line = std::make_unique<DemoLine>(name, 0);
  TKELCOMM comm;
  CommCollector rx{comm};
  size_t mark = 0;
};

TEST(DemoModem, CommandsAnswerByteForByte) {
  // What is sent, then the answer; each starts where the one before left.
  // clang-format off
  const char* rows[] = {"AT&F\r\n", "AT&F\r\r\nOK\r\n", "ATX9\r", "ATX9\r\r\nERROR\r\n",
      "ATX\b\r", "ATX\b\r\r\nOK\r\n", "hi\rAT\r", "hi\rAT\r\r\nOK\r\n", "ATO\r",
      "ATO\r\r\nNO CARRIER\r\n", "ATE0V0\r", "ATE0V0\r0\r", "ATE2\r", "4\r", "ATZ\r",
      "\r\nOK\r\n", "AT\r", "AT\r\r\nOK\r\n"};
  // clang-format on
  Demo demo;
  for (size_t i = 0; i < std::size(rows); i += 2) {
    demo.comm.WriteString(rows[i]);
    EXPECT_EQ(demo.Until(rows[i + 1]), rows[i + 1]) << "after " << rows[i];
  }
}

// Plus signs escape only with a second of silence before and after them;
// otherwise they are data and reach the host (here echoing them).
TEST(DemoModem, EscapeNeedsSilenceAndTheWindowsHangUpEndsTheCall) {
  Demo demo;
  ASSERT_TRUE(demo.Dial());
  demo.comm.WriteString("4");  // the host's echo mode
  for (const char* data : {"x+++", "+++x"}) {
    ASSERT_EQ(demo.Until("OK\r\n", 1100ms), "");
    demo.comm.WriteString(data);
    EXPECT_NE(demo.Until(data), "") << "passed on as data";
  }
  ASSERT_EQ(demo.Until("OK\r\n", 1100ms), "") << "no escape";
  demo.comm.WriteString("+++");
  EXPECT_EQ(demo.Until("OK\r\n"), "+++\r\nOK\r\n");
  demo.comm.WriteString("ATH\r\n");
  EXPECT_EQ(demo.Until("OK\r\n"), "ATH\r\r\nOK\r\n");
  EXPECT_TRUE(WaitFor([&] { return !demo.comm.CarrierOn(); }, 5s));
}

TEST(DemoHost, TransfersOnOurEngineAndTheDemoEndingInOne) {
  Demo demo;
  TempDir dir;
  const std::string bytes = RandomBytes(23456, 7);
  WriteFile(dir / "送信.bin", bytes);
  ASSERT_TRUE(demo.Dial());
  demo.comm.Protocol = pr_ZMODEM;
  for (const char* keys : {"26", "36"}) {  // download, then upload
    demo.comm.WriteString(keys);
    ASSERT_FALSE(demo.Until(ShiftJisFromUtf8("てください.\r\n")).empty());
    keys[0] == '2' ? demo.comm.StartDownload(dir / "in.bin")
                   : demo.comm.StartUpload(dir / "送信.bin");
    ASSERT_TRUE(WaitFor([&] { return demo.comm.TranMode == 0; }, 30s));
    EXPECT_EQ(demo.comm.TranResult.load(), 1);
    ASSERT_FALSE(demo.Until(demo.kPrompt, 10s).empty());
  }
  EXPECT_TRUE(ReadFile(dir / "in.bin") == DemoSampleFile());
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", Crc32Of(bytes));
  const std::string report = ShiftJisFromUtf8("受信しました: 送信.bin 23456 バイト CRC-32 ") + crc;
  EXPECT_NE(demo.rx.Bytes().find(report + "\r\n"), npos);
  // Ending the demo cancels an XMODEM sender waiting for its invitation.
  demo.comm.WriteString("21");
  ASSERT_FALSE(demo.Until(ShiftJisFromUtf8("てください.\r\n")).empty());
  const std::string name = demo.name;
  demo.line.reset();
  EXPECT_EQ(VirtualLine::Find(name), nullptr);
}

}  // namespace
