#include "ToolGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

void DrawPort(QPainter& p) {
  p.setBrush(QColor(0, 128, 0));
  p.drawRect(2, 5, 7, 6);   // plug body
  p.drawLine(9, 6, 13, 6);  // pins
  p.drawLine(9, 10, 13, 10);
  p.drawLine(0, 8, 2, 8);  // cable
}

void DrawKeyboard(QPainter& p) {
  p.setBrush(Qt::lightGray);
  p.drawRect(0, 4, 15, 8);
  for (int x = 2; x < 14; x += 3) p.drawPoint(x, 6);
  for (int x = 3; x < 14; x += 3) p.drawPoint(x, 8);
  p.drawLine(4, 10, 11, 10);  // space bar
}

void DrawBackScroll(QPainter& p) {
  p.setBrush(Qt::white);
  p.drawRect(1, 1, 13, 13);
  for (int y = 4; y < 13; y += 3) p.drawLine(3, y, 9, y);
  p.setBrush(Qt::black);
  p.drawPolygon(QPolygon({QPoint(11, 3), QPoint(13, 6), QPoint(9, 6)}));
}

void DrawOneLine(QPainter& p) {
  p.setBrush(Qt::white);
  p.drawRect(0, 5, 15, 6);
  p.drawLine(2, 8, 8, 8);
  p.drawLine(10, 7, 10, 9);  // caret
}

void DrawClipboard(QPainter& p) {
  p.setBrush(QColor(192, 128, 64));
  p.drawRect(2, 2, 11, 13);
  p.setBrush(Qt::white);
  p.drawRect(4, 4, 7, 9);
  p.setBrush(Qt::gray);
  p.drawRect(5, 0, 5, 3);
}

void DrawArrow(QPainter& p, bool up) {
  p.setBrush(up ? QColor(0, 0, 160) : QColor(160, 0, 0));
  const int tip = up ? 1 : 14;
  const int base = up ? 8 : 7;
  p.drawPolygon(QPolygon({QPoint(7, tip), QPoint(14, base), QPoint(0, base)}));
  p.drawRect(4, up ? 8 : 1, 6, 6);
}

void DrawModem(QPainter& p) {
  p.setBrush(Qt::lightGray);
  p.drawRect(0, 6, 15, 6);
  p.setPen(Qt::red);
  p.drawPoint(3, 9);
  p.setPen(Qt::green);
  p.drawPoint(6, 9);
  p.drawPoint(9, 9);
}

void DrawPhoneBook(QPainter& p) {
  p.setBrush(QColor(0, 96, 160));
  p.drawRect(2, 0, 11, 15);
  p.setPen(Qt::white);
  p.drawLine(5, 4, 10, 4);
  p.drawLine(5, 7, 10, 7);
  p.setPen(Qt::black);
  for (int y = 2; y < 15; y += 4) p.drawLine(0, y, 2, y);  // rings
}

}  // namespace

QIcon ToolGlyph(TToolGlyph glyph) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(Qt::black);
  switch (glyph) {
    case TToolGlyph::Port:
      DrawPort(p);
      break;
    case TToolGlyph::Keyboard:
      DrawKeyboard(p);
      break;
    case TToolGlyph::BackScroll:
      DrawBackScroll(p);
      break;
    case TToolGlyph::OneLine:
      DrawOneLine(p);
      break;
    case TToolGlyph::Clipboard:
      DrawClipboard(p);
      break;
    case TToolGlyph::Upload:
      DrawArrow(p, true);
      break;
    case TToolGlyph::Download:
      DrawArrow(p, false);
      break;
    case TToolGlyph::Modem:
      DrawModem(p);
      break;
    case TToolGlyph::PhoneBook:
      DrawPhoneBook(p);
      break;
  }
  p.end();
  return QIcon(pixmap);
}
