// The demo host behind the modem: its menu in Shift-JIS, the board, the echo
// mode, downloads of the sample file and uploads reported with size and
// CRC-32, all driven from the KelTerm end with our own transfer engine, and
// the goodbye that drops the carrier.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "Reference.h"
#include "DemoTerminal.h"
#include "Engine.h"

namespace demotest {
namespace {

const std::string kMenu = Sjis(
    "1) 掲示板を読む\r\n2) ファイルをダウンロード\r\n3) ファイルをアップロード\r\n"
    "4) エコー\r\nG) さようなら\r\n番号を選んでください> ");

// The transfer gives no signal when it ends: look every few milliseconds.
bool WaitTransferEnd(TKELCOMM& comm, Clock::duration timeout = 30s) {
  const auto deadline = Clock::now() + timeout;
  while (comm.TranMode.load() != 0 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  return comm.TranMode.load() == 0;
}

class DemoHostTest : public ::testing::Test {
 protected:
  ~DemoHostTest() override { std::filesystem::remove_all(folder); }
  // Picks menu item key and protocol p; true once the host has announced
  // the transfer.
  bool Choose(char key, protType p, const char* announcement) {
    t.Send(std::string(1, key));
    if (t.Until(kProtocolPrompt).empty()) return false;
    t.Send(std::to_string(p + 1));
    t.comm.Protocol = p;
    return !t.Until(Sjis(announcement) + "\r\n").empty();
  }
  Terminal t{UniqueName()};
  // A folder of the test's own: names counted within one test program
  // repeat in the next, which ctest may run at the same time.
  const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "keldemo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    return pattern;
  }();
};

TEST_F(DemoHostTest, MenuBoardEchoAndGoodbye) {
  t.Send("ATDT03-1234-5678\r");
  ASSERT_FALSE(t.Until("CONNECT 38400\r\n", 5s).empty());
  const std::string greeting = Sjis("KelTerm デモホストへようこそ.\r\n");
  EXPECT_EQ(t.Take(greeting.size() + kMenu.size()), greeting + kMenu);

  t.Send("1");
  const std::string board = t.Until(kMenuPrompt);
  size_t lines = 0;
  for (size_t at = 0; (at = board.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_GT(lines, 100u);
  EXPECT_NE(board.find('\b'), std::string::npos);
  EXPECT_NE(board.find("\x1b[2J"), std::string::npos);

  t.Send("2");
  const std::string list = t.Until(kProtocolPrompt);
  size_t at = 0;
  for (const char* item : {"1) XMODEM (SUM)", "2) XMODEM (CRC)", "3) XMODEM (1K)", "4) YMODEM",
                           "5) YMODEM-G", "6) ZMODEM", "7) M-LINK"})
    EXPECT_NE(at = list.find(item, at), std::string::npos) << item << " in order";
  t.Send("\x1b");
  EXPECT_EQ(t.Until(kMenuPrompt), "\r\n" + kMenu) << "escape leaves the list";

  t.Send("rz\r\n4");  // what the host does not expect is ignored
  EXPECT_EQ(t.Until(Sjis("終わります.\r\n")),
            Sjis("\r\nエコーモードです. 行頭の . で終わります.\r\n"));
  t.Send("a+b\r");
  EXPECT_EQ(t.Take(5), "a+b\r\n");
  t.Send(".\r");
  EXPECT_EQ(t.Until(kMenuPrompt), ".\r\n" + Sjis("エコーモードを終わります.\r\n") + "\r\n" + kMenu);

  t.Send("g");
  EXPECT_EQ(t.Until(Sjis("さようなら.\r\n")),
            Sjis("\r\nご利用ありがとうございました. さようなら.\r\n"));
  EXPECT_TRUE(t.WaitCarrier(false));
  EXPECT_EQ(t.Until("NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
  t.Send("AT\r");
  EXPECT_EQ(t.Until("OK\r\n"), "AT\r\r\nOK\r\n") << "back in command mode";
}

TEST_F(DemoHostTest, DownloadsEqualTheSampleFile) {
  ASSERT_TRUE(t.DialHost());
  for (const protType p : {pr_ZMODEM, pr_YMODEM}) {
    SCOPED_TRACE(ProtocolNames[p]);
    ASSERT_TRUE(Choose('2', p, "ダウンロードを開始します. ダウンロード(&D) で受信してください."));
    const std::string path = folder + "/" + std::to_string(p) + ".bin";
    t.comm.StartDownload(path);
    ASSERT_TRUE(WaitTransferEnd(t.comm));
    EXPECT_EQ(t.comm.TranResult.load(), 1);
    EXPECT_EQ(t.comm.Status.RecvName.get(), "sample.bin");
    std::stringstream got;
    got << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(got.str().size(), 40000u);
    EXPECT_TRUE(got.str() == DemoSampleFile());
    EXPECT_FALSE(t.Until(Sjis("転送が終わりました.\r\n") + "\r\n" + kMenu).empty());
  }
  EXPECT_EQ(std::set<char>(DemoSampleFile().begin(), DemoSampleFile().end()).size(), 256u);
}

TEST_F(DemoHostTest, UploadsAreReportedWithSizeAndCrc) {
  ASSERT_TRUE(t.DialHost());
  std::mt19937 random(7);
  std::string bytes(23456, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  const std::string padded = bytes + std::string(23552 - bytes.size(), '\x1a');
  // The host's first invitation reaches the terminal before its sender
  // starts (as in the window, whose sender then waits ten seconds for the
  // next one); the test hands it over instead.
  const struct {
    protType protocol;
    std::string name, reported, received;
    const char* invitation;
  } rows[] = {{pr_YMODEM, "送信.bin", Sjis("送信.bin"), bytes, "C"},
              {pr_ZMODEM, "up.bin", "up.bin", bytes, ""},
              {pr_XMODEM_CRC_128, "x.bin", Sjis("(名前なし)"), padded, "C"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(ProtocolNames[row.protocol]);
    const std::string path = folder + "/" + row.name;
    std::ofstream(path, std::ios::binary) << bytes;
    ASSERT_TRUE(Choose('3', row.protocol,
                       "アップロードを開始します. アップロード(&U) で送信してください."));
    ASSERT_FALSE(*row.invitation && t.Until(row.invitation).empty());
    t.comm.StartUpload(path);
    t.comm.Engine().Deliver(reinterpret_cast<const uint8_t*>(row.invitation),
                            std::char_traits<char>::length(row.invitation));
    ASSERT_TRUE(WaitTransferEnd(t.comm));
    EXPECT_EQ(t.comm.TranResult.load(), 1);
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", Crc32Of(row.received));
    const std::string report = Sjis("受信しました: ") + row.reported + " " +
                               std::to_string(row.received.size()) + Sjis(" バイト") + " CRC-32 " +
                               crc + "\r\n";
    const std::string shown = t.Until(kMenuPrompt, 10s);
    EXPECT_TRUE(shown.ends_with("\r\n" + report + "\r\n" + kMenu)) << shown;
  }
}

// The XMODEM sender would wait a minute for its invitation; ending the demo
// cancels it and returns at once, and frees the line's name.
TEST(DemoLineTest, EndingTheDemoCancelsATransferAndFreesTheName) {
  const std::string name = UniqueName();
  auto t = std::make_unique<Terminal>(name);
  ASSERT_TRUE(t->DialHost());
  t->Send("21");
  ASSERT_FALSE(t->Until(Sjis("受信してください.\r\n")).empty());
  EXPECT_THROW(DemoLine(name, 0), std::invalid_argument) << "the name is taken";
  const auto start = Clock::now();
  t.reset();
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_EQ(VirtualLine::Find(name), nullptr);
  EXPECT_NO_THROW(DemoLine(name, 0));
}

}  // namespace
}  // namespace demotest
