#include "ShiftJis.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringList>
#include <array>
#include <memory>
#include <mutex>

namespace {

// Every single byte and every lead/trail pair decoded once, so that drawing
// a screen is table look-ups only.
struct ShiftJisTable {
  std::array<char16_t, 256> single{};
  std::unique_ptr<char16_t[]> pairs = std::make_unique<char16_t[]>(65536);

  ShiftJisTable() {
    QStringDecoder decoder(ShiftJisCodecName(), QStringDecoder::Flag::Stateless);
    auto decode = [&](const char* bytes, int len) -> char16_t {
      const QString s = decoder(QByteArrayView(bytes, len));
      return s.size() == 1 ? s.at(0).unicode() : char16_t(0xFFFD);
    };
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      single[b] = b < 0x20            ? char16_t(0xFFFD)
                  : IsShiftJisLead(b) ? char16_t(0xFFFD)
                                      : decode(&c, 1);
    }
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsShiftJisLead(lead)) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (!IsShiftJisTrail(trail)) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        pairs[lead << 8 | trail] = decode(pair, 2);
      }
    }
  }
};

const ShiftJisTable& Table() {
  static const ShiftJisTable table;  // built once, thread-safe
  return table;
}

}  // namespace

const char* ShiftJisCodecName() {
  static const char* const name = [] {
    return QStringDecoder("windows-31j").isValid() ? "windows-31j" : "Shift_JIS";
  }();
  return name;
}

void LayoutShiftJisRow(std::string_view bytes, std::vector<ScreenChar>& out) {
  const ShiftJisTable& table = Table();
  out.clear();
  const size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const int column = static_cast<int>(i);
    if (IsShiftJisLead(b) && i + 1 < n &&
        IsShiftJisTrail(static_cast<unsigned char>(bytes[i + 1]))) {
      const auto t = static_cast<unsigned char>(bytes[i + 1]);
      out.push_back({column, 2, QChar(table.pairs[b << 8 | t])});
      i += 2;
    } else {
      out.push_back({column, 1, QChar(table.single[b])});
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
