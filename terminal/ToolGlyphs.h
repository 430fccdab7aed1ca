#pragma once
// The toolbar's small pictures, drawn in code at 16 x 16 pixels.

#include <QIcon>

enum class TToolGlyph {
  Port,
  Keyboard,
  BackScroll,
  OneLine,
  Clipboard,
  Upload,
  Download,
  Modem,
  PhoneBook
};

QIcon ToolGlyph(TToolGlyph glyph);
