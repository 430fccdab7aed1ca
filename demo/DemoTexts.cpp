#include "DemoTexts.h"

#include <cstdio>

#include "ShiftJisText.h"

namespace demotext {

std::string ToSjis(std::string_view utf8) { return ShiftJisFromUtf8(utf8); }

std::string Line(std::string_view utf8) { return ToSjis(utf8) + "\r\n"; }

const std::string& Greeting() {
  static const std::string text = Line("KelTerm デモホストへようこそ.");
  return text;
}

// The prompt stays on its line: the key the user presses is not echoed.
const std::string& Menu() {
  static const std::string text = Line("1) 掲示板を読む") + Line("2) ファイルをダウンロード") +
                                  Line("3) ファイルをアップロード") + Line("4) エコー") +
                                  Line("G) さようなら") + ToSjis("番号を選んでください> ");
  return text;
}

const std::string& ProtocolList() {
  static const std::string text =
      "\r\n\r\n" + Line("1) XMODEM (SUM)  2) XMODEM (CRC)  3) XMODEM (1K)  4) YMODEM") +
      Line("5) YMODEM-G      6) ZMODEM        7) M-LINK") + ToSjis("プロトコル> ");
  return text;
}

std::string ReceivedReport(const std::string& sjisName, uint64_t size, uint32_t crc32) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", crc32);
  return ToSjis("受信しました: ") + sjisName + " " + std::to_string(size) + ToSjis(" バイト") +
         " CRC-32 " + crc + "\r\n";
}

}  // namespace demotext
