#include "BackScrollView.h"

#include <algorithm>

#include "ShiftJis.h"

QString DecodeCopiedText(std::string_view Bytes) {
  QString text;
  size_t from = 0;
  while (true) {
    const size_t end = Bytes.find("\r\n", from);
    text += DecodeShiftJisRow(Bytes.substr(from, end == std::string_view::npos ? end : end - from));
    if (end == std::string_view::npos) break;
    text += QStringLiteral("\r\n");
    from = end + 2;
  }
  return text;
}

TBackKeyResult BackScrollKey(int Key, bool Shown, int32_t Position, int32_t Count, int32_t Page) {
  TBackKeyResult r{true, TPaneChange::Keep, Position, false};
  const int32_t end = Count - 1;
  switch (Key) {
    case Qt::Key_Escape:
      if (!Shown) return {};
      r.Pane = TPaneChange::Hide;
      r.FocusScreen = true;
      break;
    case Qt::Key_Up:
      if (!Shown) {
        r.Pane = TPaneChange::Show;
        r.Position = end;
      } else if (Position > 0) {
        r.Position = Position - 1;
      }
      break;
    case Qt::Key_Down:
      if (Position < end)
        r.Position = Position + 1;
      else if (Shown)
        r.Pane = TPaneChange::Hide;
      break;
    case Qt::Key_PageUp:
      if (!Shown) {
        r.Pane = TPaneChange::Show;
        r.Position = end;
      } else {
        r.Position = Position > Page ? Position - Page : 0;
      }
      break;
    case Qt::Key_PageDown:
      r.Position = Position < end - Page ? Position + Page : end;
      break;
    default:
      return {};
  }
  return r;
}
