#pragma once
// Shift-JIS on the screen. Text stays bytes everywhere; only drawing and
// the clipboard turn it into characters. A screen column is one byte: a
// double-byte character stands at its first byte's column and covers two.

#include <QChar>
#include <QFont>
#include <QString>
#include <string_view>
#include <vector>

// The codec for the line's text: Windows' Shift-JIS superset where Qt has
// it, plain Shift-JIS otherwise.
const char* ShiftJisCodecName();

inline bool IsShiftJisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
inline bool IsShiftJisTrail(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// One character of a row: its first column, its width in columns (1 or 2)
// and what it shows (U+FFFD for a byte that is no character).
struct ScreenChar {
  int column;
  int width;
  QChar ch;
};

// Lays out the bytes of one row, column by column.
void LayoutShiftJisRow(std::string_view bytes, std::vector<ScreenChar>& out);
// The characters of a row as one text, each double-byte character counted
// once; a lone lead byte (cut off at the row's end) shows as U+FFFD.
QString DecodeShiftJisRow(std::string_view bytes);

// The fixed-pitch Japanese Gothic that the screen and the back-scroll pane
// lay Shift-JIS out in, 16 px.
QFont TerminalFont();
