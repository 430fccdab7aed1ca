#include "ShiftJis.h"

#include <QStringList>

QString FromShiftJis(std::string_view bytes) {
  const std::string text = Utf8FromShiftJis(bytes);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToShiftJis(const QString& text) { return ShiftJisFromUtf8(text.toStdString()); }

void LayoutShiftJisRow(std::string_view bytes, std::vector<ScreenChar>& out) {
  out.clear();
  const size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const int column = static_cast<int>(i);
    if (IsShiftJisLead(b) && i + 1 < n &&
        IsShiftJisTrail(static_cast<unsigned char>(bytes[i + 1]))) {
      const auto t = static_cast<unsigned char>(bytes[i + 1]);
      out.push_back({column, 2, QChar(ShiftJisPair(b, t))});
      i += 2;
    } else {
      out.push_back({column, 1, QChar(b < 0x20 ? char16_t(0xFFFD) : ShiftJisSingle(b))});
      ++i;
    }
  }
}

QString DecodeShiftJisRow(std::string_view bytes) {
  std::vector<ScreenChar> chars;
  LayoutShiftJisRow(bytes, chars);
  QString text;
  text.reserve(static_cast<qsizetype>(chars.size()));
  for (const ScreenChar& c : chars) text.append(c.ch);
  return text;
}

QFont TerminalFont() {
  QFont font;
  font.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                    QStringLiteral("monospace")});
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(16);
  return font;
}
