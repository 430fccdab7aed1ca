#pragma once
// Shift-JIS on the screen and in the widgets: the QString side of
// ShiftJisText.h, with its rule ("?" for a character Shift-JIS lacks, U+FFFD
// for bytes that are no character). A screen column is one byte: a
// double-byte character stands at its first byte's column and covers two.

#include <QChar>
#include <QFont>
#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "ShiftJisText.h"

QString FromShiftJis(std::string_view bytes);
std::string ToShiftJis(const QString& text);

// One character of a row: its first column, its width in columns (1 or 2)
// and what it shows (U+FFFD for a byte that is no character).
struct ScreenChar {
  int column;
  int width;
  QChar ch;
};

// Lays out the bytes of one row, column by column; control bytes show as
// U+FFFD.
void LayoutShiftJisRow(std::string_view bytes, std::vector<ScreenChar>& out);
// The characters of a row as one text, each double-byte character counted
// once; a lone lead byte (cut off at the row's end) shows as U+FFFD.
QString DecodeShiftJisRow(std::string_view bytes);

// The fixed-pitch Japanese Gothic that the screen and the back-scroll pane
// lay Shift-JIS out in, 16 px.
QFont TerminalFont();
