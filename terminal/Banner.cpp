#include "Banner.h"

#include <QString>

#include "ShiftJis.h"

std::vector<std::string> StartupBanner() {
  static const char16_t* const lines[] = {
      u"--------------------------------------------------------",
      u"   zezediriz ＫＥＬＴＥＲＭ  Version 2.02",
      u"   1997年3月15日 リリース",
      u"--------------------------------------------------------",
      u"",
      u"　本ソフトウェアは以下のコンポーネントを使用しています。",
      u"",
      u"【*シリアル送受信部*】",
      u"   TComm     シリアルポートの送受信と監視スレッド",
      u"",
      u"【*ファイル転送部*】",
      u"   TKELCOMM  XMODEM / YMODEM / YMODEM-G / ZMODEM / M-LINK の",
      u"             ファイル転送コンポーネント",
      u"             (TComm から派生し、転送スレッドと受信リングを追加)",
      u"   ご協力いただいた皆様に感謝いたします。",
      u"",
  };
  std::vector<std::string> out;
  for (const char16_t* line : lines) out.push_back(ToShiftJis(QString::fromUtf16(line)));
  return out;
}
