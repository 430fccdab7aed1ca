#pragma once
// What the demo host says, as it goes on the line: Shift-JIS (CP932) with CR
// LF line ends. The texts are written in UTF-8 in the source and converted
// once, on first use.

#include <cstdint>
#include <string>
#include <string_view>

namespace demotext {

// UTF-8 to Shift-JIS; a character without a Shift-JIS form becomes "?".
std::string ToSjis(std::string_view utf8);
// One line of text followed by CR LF, in Shift-JIS.
std::string Line(std::string_view utf8);

const std::string& Greeting();      // the welcome line
const std::string& Menu();          // the choices and the prompt
const std::string& ProtocolList();  // the protocols and their prompt
const std::string& Board();         // the bulletin board's messages

// The host's announcements and reports (UTF-8, for Line).
inline constexpr std::string_view kDownloadStart =
    "ダウンロードを開始します. ダウンロード(&D) で受信してください.";
inline constexpr std::string_view kUploadStart =
    "アップロードを開始します. アップロード(&U) で送信してください.";
inline constexpr std::string_view kTransferDone = "転送が終わりました.";
inline constexpr std::string_view kTransferFailed = "転送に失敗しました.";
inline constexpr std::string_view kEchoStart = "エコーモードです. 行頭の . で終わります.";
inline constexpr std::string_view kEchoEnd = "エコーモードを終わります.";
inline constexpr std::string_view kGoodbye = "ご利用ありがとうございました. さようなら.";
inline constexpr std::string_view kNoName = "(名前なし)";

// "受信しました: NAME SIZE バイト CRC-32 xxxxxxxx" with NAME as given (Shift-JIS
// bytes), as one line.
std::string ReceivedReport(const std::string& sjisName, uint64_t size, uint32_t crc32);

}  // namespace demotext
