#include "ElidedText.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QtMath>

namespace {

// The blank that QLineEdit keeps on each side of its text.
constexpr int kLineEditMargin = 2;

}  // namespace

TElidedLabel::TElidedLabel(QWidget* parent) : QLabel(parent) {}

void TElidedLabel::SetWholeText(const QString& text) {
  whole_ = text;
  setToolTip(text);
  Elide();
  updateGeometry();
}

QSize TElidedLabel::sizeHint() const {
  const int frame = width() - contentsRect().width();
  // Rounded up: the text's advance is fractional, and elision compares it whole.
  const int text = qCeil(QFontMetricsF(font()).horizontalAdvance(whole_));
  return {text + frame, QLabel::sizeHint().height()};
}

QSize TElidedLabel::minimumSizeHint() const {
  return {fontMetrics().horizontalAdvance(QChar(0x2026)), QLabel::minimumSizeHint().height()};
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void TElidedLabel::Elide() {
  setText(fontMetrics().elidedText(whole_, Qt::ElideMiddle, contentsRect().width()));
}

TElidedLineEdit::TElidedLineEdit(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
  setToolTip(text);
  connect(this, &QLineEdit::textChanged, this, [this](const QString& now) { setToolTip(now); });
}

QString TElidedLineEdit::ShownText() const {
  if (hasFocus() || echoMode() != QLineEdit::Normal) return text();
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, TextRoom().width());
}

QRect TElidedLineEdit::TextRoom() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  return contents.marginsRemoved(textMargins()).adjusted(kLineEditMargin, 0, -kLineEditMargin, 0);
}

void TElidedLineEdit::paintEvent(QPaintEvent* event) {
  const QString shown = ShownText();
  if (shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  painter.drawText(TextRoom(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}
