// The receive path and the terminal screen.
//
// Reception (on the serial watcher) only appends to TextBuffer and marks the
// screen dirty; the 150 ms tick redraws. A redraw takes a snapshot of the last
// rows under TextBuffer's lock (skipping its frame when reception holds the
// lock) and paints the snapshot, so painting never waits for the line.
#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QPainter>
#include <QScrollBar>

#include "Banner.h"
#include "KCommSDg.h"
#include "KTerm.h"
#include "PaintBox.h"
#include "ShiftJis.h"

namespace {

constexpr int kColumns = 80;
constexpr int kColumnWidth = 8;
constexpr int kCaretWidth = 10;
constexpr int kCaretHeight = 20;

}  // namespace

// Runs on the serial watcher.
void TKelTerm::KelComm1CommReceive(TComm* Sender, uint16_t Size) {
  if (Session.CommReceive(*Sender, Size))
    QMetaObject::invokeMethod(
        qApp, [] { QApplication::beep(); }, Qt::QueuedConnection);
  PostZmodemOffer();
}

void TKelTerm::TextDraw() {
  std::unique_lock lock(TextBuffer.Mutex(), std::try_to_lock);
  if (!lock) return;  // reception is at work: the next tick draws
  const int rows = PaintBox1->height() / kScreenPitch;
  const size_t count = TextBuffer.Count();
  const size_t first = std::max<ptrdiff_t>(1, static_cast<ptrdiff_t>(count) - rows);
  screenRows_.clear();
  for (size_t i = first; i < count; ++i) {
    std::string row(TextBuffer.Line(i).substr(0, kColumns));
    row.resize(kColumns, ' ');
    screenRows_.push_back(std::move(row));
  }
  caretColumn_ = static_cast<int>(std::min<size_t>(TextBuffer.CurrentLine().size(), kColumns));
  lock.unlock();

  ScreenDirty = false;
  CaretTop = (static_cast<int>(screenRows_.size()) - 1) * kScreenPitch;
  drawing_ = true;
  PaintBox1->repaint();
  drawing_ = false;
}

std::vector<std::string> TKelTerm::ScreenRows() const { return screenRows_; }

// Paints the last snapshot: one opaque row after another, then the caret.
void TKelTerm::PaintScreen(QPainter& canvas) {
  static const QFont font = TerminalFont();
  canvas.setFont(font);
  const QFontMetrics metrics(font);
  // With a font whose half-width glyphs are 8 px and full-width ones 16 px,
  // a row is one text drawing; otherwise each character goes to its column.
  const bool exact = metrics.horizontalAdvance(QLatin1Char('M')) == kColumnWidth &&
                     metrics.horizontalAdvance(QChar(0x65E5)) == 2 * kColumnWidth;
  std::vector<ScreenChar> chars;
  for (size_t r = 0; r < screenRows_.size(); ++r) {
    const int top = static_cast<int>(r) * kScreenPitch;
    canvas.fillRect(0, top, PaintBox1->width(), kScreenPitch, Qt::white);
    canvas.setPen(Qt::black);
    const int baseline = top + (kScreenPitch + metrics.ascent() - metrics.descent()) / 2;
    if (exact) {
      canvas.drawText(0, baseline, DecodeShiftJisRow(screenRows_[r]));
      continue;
    }
    LayoutShiftJisRow(screenRows_[r], chars);
    for (const ScreenChar& c : chars)
      if (c.ch != QLatin1Char(' '))
        canvas.drawText(c.column * kColumnWidth, baseline, QString(c.ch));
  }
  if (caretShown_ && CaretInvolved()) {
    // Inverts what lies under it, like a system caret.
    canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    canvas.fillRect(caretColumn_ * kColumnWidth, CaretTop, kCaretWidth, kCaretHeight, Qt::white);
    canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
}

void TKelTerm::ClearBuffer(bool WithBanner) {
  BackBottomLine = 0;
  SelExists = false;
  SelDragging = false;
  SelAnchorLine = SelAnchorCol = SelCurLine = SelCurCol = 0;
  Session.Clear(WithBanner ? StartupBanner() : std::vector<std::string>());
  BackTextResize();
  BackTextScrollBar->setValue(BackTextScrollBar->minimum());
}

void TKelTerm::KC1Click() { ClearBuffer(true); }

// Painting comes from the snapshot; a paint request from the system also
// asks the next tick for a fresh one.
void TKelTerm::PaintBox1Paint() {
  if (!drawing_) ScreenDirty = true;
}

void TKelTerm::PaintBox1Click() { TextDrawBox->setFocus(); }

// The caret is shown while the screen has the focus in the active window of
// the active application.
bool TKelTerm::CaretInvolved() const {
  return QApplication::focusWidget() == TextDrawBox && QApplication::activeWindow() == this &&
         QGuiApplication::applicationState() == Qt::ApplicationActive;
}

void TKelTerm::TextDrawBoxEnter() {
  caretShown_ = true;
  PaintBox1->update();
}

void TKelTerm::TextDrawBoxExit() {
  caretShown_ = false;
  PaintBox1->update();
}

void TKelTerm::Timer2Timer() {
  size_t count;
  {
    std::lock_guard lock(TextBuffer.Mutex());
    count = TextBuffer.Count();
  }
  const int last = static_cast<int>(std::min<size_t>(count - 1, INT32_MAX));
  BackTextScrollBar->setMaximum(std::max(last, BackTextScrollBar->minimum()));
  if (ScreenDirty && isVisible()) TextDraw();
  SendQueuedText();
  if (KELCOMM1->TranMode != 0) {
    CommStatusShow();
    return;
  }
  ZmodemAutoStartEnded();
  if (CommStatus && CommStatus->isVisible()) CommStatus->hide();
}
