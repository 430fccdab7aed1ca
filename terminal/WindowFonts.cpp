#include "WindowFonts.h"

#include <QFontMetrics>
#include <algorithm>

namespace {

// Narrower than this a Gothic is no longer comfortable to read.
constexpr int kNarrowestStretch = 50;

}  // namespace

QFont ProportionalGothic(int pixelHeight) {
  QFont font;
  font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                    QStringLiteral("sans-serif")});
  font.setPixelSize(pixelHeight);
  return font;
}

QFont NarrowedToFit(QFont font, const QStringList& texts, int width) {
  for (int stretch = QFont::Unstretched; stretch > kNarrowestStretch; --stretch) {
    font.setStretch(stretch);
    const QFontMetrics metrics(font);
    if (std::ranges::all_of(
            texts, [&](const QString& text) { return metrics.horizontalAdvance(text) <= width; }))
      break;
  }
  return font;
}
