// The progress dialog's texts, computed from a status reading and a tick
// count without any window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TransferView.h"

namespace {

struct TextCase {
  const char* name;
  TTransferSnapshot status;
  uint32_t now;
  TTransferTexts expected;
};

TTransferSnapshot Upload(protType protocol, const char* path, const char* announced) {
  TTransferSnapshot s;
  s.TranMode = 1;
  s.Protocol = protocol;
  s.FilePath = path;
  s.SendName = announced;
  return s;
}

TTransferSnapshot Download(protType protocol, const char* path, const char* announced = "") {
  TTransferSnapshot s;
  s.TranMode = 2;
  s.Protocol = protocol;
  s.FilePath = path;
  s.RecvName = announced;
  s.FileSize = kUnknownFileSize;
  return s;
}

TTransferSnapshot With(TTransferSnapshot s, uint32_t start, int32_t fileSize, int32_t tranSize) {
  s.StartTick = start;
  s.FileSize = fileSize;
  s.TranSize = tranSize;
  return s;
}

std::vector<TextCase> Cases() {
  const uint32_t t0 = 5000000;
  return {
      {"FirstSecondIsNotMeasured",
       With(Upload(pr_XMODEM_CRC_128, "/home/kel/data/A.TXT", "A.TXT"), t0, 5000, 256),
       t0 + 999,
       {"A.TXT,A.TXT (/home/kel/data/)", "256 / 5000", "計測不可能", "00:00:00", "01:00:00",
        "XMODEM [CRC] 128byte アップロード"}},
      {"FirstSecondOfAnUnannouncedDownload",
       With(Download(pr_YMODEM, "/tmp/in/recv.bin"), t0, kUnknownFileSize, 0),
       t0,
       {"recv.bin, (/tmp/in/)", "0 / 9999999", "計測不可能", "00:00:00", "予測不可能",
        "YMODEM ダウンロード"}},
      {"SecondWithoutBytesHasSpeedZero",
       With(Upload(pr_YMODEM_G, "/d/x.bin", "x.bin"), t0, 100, 0),
       t0 + 1500,
       {"x.bin,x.bin (/d/)", "0 / 100", "0", "00:00:01", "01:00:00", "YMODEM-G アップロード"}},
      {"UnannouncedSizeStaysUnpredictable",
       With(Download(pr_XMODEM_SUM_128, "/d/got"), t0, kUnknownFileSize, 2048),
       t0 + 2000,
       {"got, (/d/)", "2048 / 9999999", "1024", "00:00:02", "予測不可能",
        "XMODEM [SUM] 128byte ダウンロード"}},
      {"HoursAreNotLimitedToTwoDigits",
       With(Download(pr_ZMODEM, "/d/big", "big"), t0, 2000000000, 360061000),
       t0 + 360061000,
       {"big,big (/d/)", "360061000 / 2000000000", "1000", "100:01:01", "455:32:19",
        "ZMODEM ダウンロード"}},
      {"WrappedTickCounterCountsForward",
       With(Upload(pr_MLINK, "/d/w", "w"), 0xFFFFFC18u, 9000, 3000),
       2000,
       {"w,w (/d/)", "3000 / 9000", "1000", "00:00:03", "00:00:06", "M-LINK アップロード"}},
      {"PathWithoutSeparatorHasAnEmptyFolder",
       With(Upload(pr_XMODEM_CRC_128, "A.TXT", "A.TXT"), t0, 10, 0),
       t0,
       {"A.TXT,A.TXT ()", "0 / 10", "計測不可能", "00:00:00", "01:00:00",
        "XMODEM [CRC] 128byte アップロード"}},
      // 表 is 0x95 0x5C and ソ is 0x83 0x5C in Shift-JIS: the second byte is
      // the code of a backslash.
      {"ShiftJisNamesWithABackslashByteStayWhole",
       With(Download(pr_YMODEM, "/tmp/表示.txt", "\x95\x5c.TXT"), t0, 10, 0),
       t0,
       {"表示.txt,表.TXT (/tmp/)", "0 / 10", "計測不可能", "00:00:00", "01:00:00",
        "YMODEM ダウンロード"}},
  };
}

class TransferTextsTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TransferTextsTest, MatchesTheStatusAndTheTime) {
  const TextCase& c = GetParam();
  const TTransferTexts t = TransferTexts(c.status, c.now);
  EXPECT_EQ(t.File_Name, c.expected.File_Name);
  EXPECT_EQ(t.File_Size, c.expected.File_Size);
  EXPECT_EQ(t.TranSpeed, c.expected.TranSpeed);
  EXPECT_EQ(t.TranTime, c.expected.TranTime);
  EXPECT_EQ(t.TranTimeLeft, c.expected.TranTimeLeft);
  EXPECT_EQ(t.Protocol, c.expected.Protocol);
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferTextsTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SplitLocalPathTest, CutsAfterTheLastSlash) {
  struct Row {
    std::string path, folder, name;
  };
  const std::string longName = "x" + [] {
    std::string s;
    for (int i = 0; i < 100; ++i) s += "あ";  // three bytes each
    return s;
  }();
  const std::vector<Row> rows = {
      {"/a/b/c.txt", "/a/b/", "c.txt"},
      {"c.txt", "", "c.txt"},
      {"/a/", "/a/", ""},
      {"/d/back\\slash", "/d/", "back\\slash"},
      // 255 bytes end inside the 85th character: it is left out whole.
      {"/d/" + longName, "/d/", longName.substr(0, 253)},
  };
  for (const Row& r : rows) {
    const TPathParts parts = SplitLocalPath(r.path);
    EXPECT_EQ(parts.Folder, r.folder) << r.path;
    EXPECT_EQ(parts.FileName, r.name) << r.path;
  }
}

}  // namespace
