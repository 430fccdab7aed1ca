#include "DemoTexts.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace demotext {

namespace {

size_t Utf8Length(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF7) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

}  // namespace

// CP932 rather than plain Shift_JIS: the terminal decodes the Windows
// superset, and its mapping of the wave dash and the like is the one users
// expect.
std::string ToSjis(std::string_view utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8);
  std::string out;
  char buffer[512];
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  while (inLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    const size_t skip = std::min(inLeft, Utf8Length(static_cast<unsigned char>(*in)));
    in += skip;
    inLeft -= skip;
    out += '?';
  }
  iconv_close(cd);
  return out;
}

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
