// Mouse selection in the back-scroll pane and the selected text.
//
// A cell is (line, column): the line an absolute index into TextBuffer, the
// column a byte of it. Dragging above or below the pane scrolls it, one
// step per mouse move, so the selection can reach lines out of sight.
#include <QScrollBar>
#include <cstdlib>

#include "BackScrollView.h"
#include "KTerm.h"

namespace {

constexpr int kColumnWidth = 8;

}  // namespace

void TKelTerm::PaintBox2MouseDown(Qt::MouseButton, int X, int Y) {
  SelAnchorCol = X / kColumnWidth;
  SelAnchorLine = Y / kBackRowHeight + BackTopLine;
  SelExists = false;
  SelDragging = true;
}

void TKelTerm::PaintBox2MouseMove(int X, int Y) {
  if (!SelDragging) return;
  SelCurCol = std::max(0, X / kColumnWidth);
  SelCurLine = Y / kBackRowHeight + BackTopLine;
  int64_t position = BackTextScrollBar->value();
  if (Y < 0) position += Y / kBackRowHeight;
  if (SelCurLine > BackBottomLine) position += SelCurLine - BackBottomLine;
  // The scroll bar keeps the position in its range; a change redraws.
  BackTextScrollBar->setValue(static_cast<int>(
      std::clamp<int64_t>(position, BackTextScrollBar->minimum(), BackTextScrollBar->maximum())));
  SelExists =
      std::abs(int64_t{SelCurCol} - SelAnchorCol) + std::abs(int64_t{SelCurLine} - SelAnchorLine) >
      0;
  BackTextDraw();
}

void TKelTerm::PaintBox2MouseUp(Qt::MouseButton, int X, int Y) {
  SelCurCol = std::max(0, X / kColumnWidth);
  SelCurLine = Y / kBackRowHeight + BackTopLine;
  SelDragging = false;
  BackTextDraw();
}

void TKelTerm::GetSelBackText(std::string& Text) {
  Text.clear();
  if (!SelExists) return;
  const TSelEnds ends =
      OrderSelEnds(SelAnchorLine, SelAnchorCol, SelCurLine, SelCurCol, BackTopLine);
  std::lock_guard lock(TextBuffer.Mutex());
  Text = SelectedBytes(TextBuffer, ends);
}
