// The bulletin board of the demo host: a handful of messages, together longer
// than a screen, so that the back-scroll pane has something to show. One of
// them carries back-spaces and an escape sequence, which a plain terminal
// shows as they are.
#include <string>
#include <string_view>

#include "DemoTexts.h"

namespace demotext {

namespace {

constexpr std::string_view kRule =
    "------------------------------------------------------------------------";

std::string Header(int number, std::string_view date, std::string_view from,
                   std::string_view subject) {
  std::string text = Line(kRule);
  text += Line("No." + std::to_string(number) + "  " + std::string(date) +
               "  差出人: " + std::string(from));
  text += Line("題名: " + std::string(subject));
  text += Line(kRule);
  return text;
}

std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) text += Line(line);
  return text;
}

std::string Welcome() {
  return Header(1, "2024/04/01 09:00", "SYSOP", "デモホストへようこそ") +
         Lines({
             "KelTerm をお使いいただきありがとうございます.",
             "このホストはモデムも電話回線もなしに KelTerm を試すための",
             "小さなデモです. 本物のホストと同じように, 番号を押すと",
             "メニューの項目が選べます. Enter は要りません.",
             "",
             "  1) 掲示板を読む       ... いま読んでいるこの画面です.",
             "  2) ファイルをダウンロード ... サンプルファイルを送ります.",
             "  3) ファイルをアップロード ... 送られたファイルを調べます.",
             "  4) エコー             ... 打った文字をそのまま返します.",
             "  G) さようなら         ... 回線を切ります.",
             "",
             "画面から流れて消えた行は, PageUp でバックスクロール画面に",
             "呼び出せます. Esc で元に戻ります.",
             "",
             "                                          SYSOP",
         });
}

std::string Transfers() {
  return Header(2, "2024/04/02 21:15", "KELTERM", "ファイル転送について") +
         Lines({
             "ダウンロードとアップロードは七つのプロトコルが使えます.",
             "",
             "  XMODEM (SUM)  128 バイトのブロック, チェックサム.",
             "  XMODEM (CRC)  128 バイトのブロック, CRC-16.",
             "  XMODEM (1K)   1024 バイトのブロック, CRC-16.",
             "  YMODEM        ファイル名と大きさを送ります.",
             "  YMODEM-G      誤りのない回線向けの YMODEM. 応答を待ちません.",
             "  ZMODEM        もっとも速く, 途中からの再開もできます.",
             "  M-LINK        パソコン通信でおなじみのプロトコル.",
             "",
             "ホストのメニューでプロトコルを選んでから, KelTerm の",
             "ダウンロード(&D) またはアップロード(&U) を押してください.",
             "XMODEM はファイル名を送らないので, アップロードの報告では",
             "(名前なし) と表示されます. XMODEM で受けたファイルは",
             "128 バイトの倍数になるよう SUB (1A) で埋められます.",
             "",
             "サンプルファイル sample.bin は 40000 バイトで, 0 から 255 まで",
             "すべての値のバイトを含みます. 制御文字をうまく通せるかの",
             "試験にちょうどよいでしょう.",
         });
}

std::string Characters() {
  std::string ascii[3];
  for (int c = 0x20; c < 0x7F; ++c) ascii[(c - 0x20) / 32] += static_cast<char>(c);
  return Header(3, "2024/04/03 12:30", "FONT", "文字の表示テスト") +
         Lines({
             "ASCII:",
             "  " + ascii[0],
             "  " + ascii[1],
             "  " + ascii[2],
             "半角カナ:",
             "  ｱｲｳｴｵ ｶｷｸｹｺ ｻｼｽｾｿ ﾀﾁﾂﾃﾄ ﾅﾆﾇﾈﾉ ﾊﾋﾌﾍﾎ ﾏﾐﾑﾒﾓ ﾔﾕﾖ ﾗﾘﾙﾚﾛ ﾜｦﾝ ｰﾞﾟ｡｢｣､･",
             "全角:",
             "  あいうえお かきくけこ アイウエオ カキクケコ 漢字 表示 試験",
             "  ＡＢＣＤＥ ａｂｃｄｅ ０１２３４ ＋－×÷＝ 「」『』【】",
             "罫線:",
             "  ┌──┬──┐",
             "  │ＫＥ│ＬＴ│",
             "  ├──┼──┤",
             "  │ＥＲ│Ｍ　│",
             "  └──┴──┘",
             "半角と全角が混じった行: KelTerm は 8 ドット幅の半角と 16 ドットの全角.",
         });
}

// Back-spaces rub out what was typed, as a user's corrections would; the
// escape sequence is meant to show up as text on a plain terminal.
std::string Corrections() {
  return Header(4, "2024/04/04 18:45", "TYPIST", "打ち間違いとエスケープシーケンス") +
         Lines({
             "後退 (BS, 08) を含む行です. 正しく表示されれば下の二行は",
             "Hello, world! と こんにちは になります.",
             "  Helo\b\bllo, world!",
             "  こんにちわ\b\bは",
             "次の行にはエスケープシーケンス ESC [2J (画面消去) が入っています.",
             "KelTerm は解釈せず, そのまま文字として表示します:",
             "  ここ -> \x1b[2J <- ここ",
             "画面が消えていなければ正常です.",
         });
}

std::string ScrollTest() {
  std::string text = Header(5, "2024/04/05 23:59", "SYSOP", "スクロール試験");
  text += Line("バックスクロールの試験用に番号付きの行を 60 行送ります.");
  for (int row = 1; row <= 60; ++row) {
    std::string number = (row < 10 ? "0" : "") + std::to_string(row);
    text += Line("スクロール試験 " + number + "/60  ABCDEFGHIJKLMNOPQRSTUVWXYZ  いろはにほへと " +
                 "0123456789");
  }
  text += Line("以上です.");
  return text;
}

}  // namespace

const std::string& Board() {
  static const std::string text = "\r\n" + Line("==== 掲示板 (全 5 件) ====") + Welcome() +
                                  Transfers() + Characters() + Corrections() + ScrollTest() +
                                  Line(kRule) + Line("==== 掲示板の終わり ====");
  return text;
}

}  // namespace demotext
