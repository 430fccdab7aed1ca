// The back-scroll pane: showing and hiding it, its height and scroll range,
// its drawing, the keys that move it, and the copy commands.
//
// The pane only reads TextBuffer, always under the buffer's lock, and keeps
// its position as an absolute line index, so lines arriving from the host
// never move what it shows. Main thread only.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>

#include "BackScrollView.h"
#include "KTerm.h"
#include "PaintBox.h"
#include "Quoting.h"
#include "ShiftJis.h"

namespace {

constexpr int kColumnWidth = 8;
constexpr int kPaneInset = 3;  // outer bevel, border and inner bevel
constexpr int kScrollBarWidth = 17;
const QColor kSelectedText(255, 255, 0);
const QColor kSelectedBack(0, 0, 255);

// Sees the pane's resizes and the clicks on its scroll bar.
class TBackScrollEvents : public QObject {
 public:
  explicit TBackScrollEvents(TKelTerm* form) : QObject(form), form_(form) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (watched == form_->BackText && type == QEvent::Resize) form_->BackTextResize();
    if (watched == form_->BackTextScrollBar &&
        (type == QEvent::MouseButtonPress || type == QEvent::FocusIn))
      form_->BackTextScrollBarEnter();
    return false;
  }

 private:
  TKelTerm* form_;
};

// Each character at its own column, so that columns stay 8 px whatever the
// font's own widths are.
void PaintRun(QPainter& canvas, int top, int baseline, const TBackRun& run,
              std::vector<ScreenChar>& chars) {
  const int x = run.Column * kColumnWidth;
  const int width = static_cast<int>(run.Bytes.size()) * kColumnWidth;
  canvas.fillRect(x, top, width, TKelTerm::kBackRowHeight,
                  run.Selected ? kSelectedBack : QColor(Qt::white));
  canvas.setPen(run.Selected ? kSelectedText : QColor(Qt::black));
  LayoutShiftJisRow(run.Bytes, chars);
  for (const ScreenChar& c : chars)
    if (c.ch != QLatin1Char(' '))
      canvas.drawText(x + c.column * kColumnWidth, baseline, QString(c.ch));
}

// The selected text of a control that holds text; empty for the others.
QLineEdit* EditOf(QWidget* control) {
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit;
  if (auto* combo = qobject_cast<QComboBox*>(control)) return combo->lineEdit();
  return nullptr;
}

void SetClipboardText(const QString& text) {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
}

}  // namespace

void TKelTerm::ConnectBackScroll() {
  auto* events = new TBackScrollEvents(this);
  backScrollEvents_ = events;
  BackText->installEventFilter(events);
  BackTextScrollBar->installEventFilter(events);
  connect(BackTextScrollBar, &QScrollBar::valueChanged, this,
          [this] { BackTextScrollBarChange(); });
  PaintBox2->setFont(TerminalFont());
  PaintBox2->OnPaint = [this](QPainter& canvas) { PaintBackText(canvas); };
  PaintBox2->OnClick = [this] { PaintBox2Click(); };
  PaintBox2->OnMouseDown = [this](QMouseEvent* e) {
    const QPoint at = e->position().toPoint();
    PaintBox2MouseDown(e->button(), at.x(), at.y());
  };
  PaintBox2->OnMouseMove = [this](QMouseEvent* e) {
    const QPoint at = e->position().toPoint();
    PaintBox2MouseMove(at.x(), at.y());
  };
  PaintBox2->OnMouseUp = [this](QMouseEvent* e) {
    const QPoint at = e->position().toPoint();
    PaintBox2MouseUp(e->button(), at.x(), at.y());
  };
}

void TKelTerm::BackScrollClick() {
  BackScroll->setChecked(!BackScroll->isChecked());
  const bool on = BackScroll->isChecked();
  SpeedButton4->setChecked(on);
  if (on) Separater1->move(Separater1->x(), BackText->y() + BackText->height());
  BackText->setVisible(on);
  Separater1->setVisible(on);
}

void TKelTerm::SpeedButton4Click() { BackScrollClick(); }

int TKelTerm::BackTextRows() const { return PaintBox2->height() / kBackRowHeight; }

void TKelTerm::BackTextResize() {
  PaintBox2->setGeometry(kPaneInset, kPaneInset, std::max(0, BackText->width() - 2 * kPaneInset),
                         std::max(0, BackText->height() - 2 * kPaneInset));
  const int rows = BackTextRows();
  if (rows > BackTextScrollBar->maximum()) BackTextScrollBar->setMaximum(rows);
  BackTextScrollBar->setMinimum(rows);
  BackTextScrollBar->setGeometry(BackText->width() - 16, 0, kScrollBarWidth, BackText->height());
  // Also reached when the buffer is cleared: the old lines must not stay on
  // show, nor stay behind in the view state that the mouse reads.
  BackTextDraw();
}

// The drag line stops where the pane keeps one row inside its bevels and the
// terminal screen one row of its own: the screen never goes out of sight, and
// the panes never need more room than the window has.
void TKelTerm::Separater1StartDrag() {
  const int mid = Separater1->height() / 2;
  Separater1->TopMgn = BackText->y() + 2 * kPaneInset + kBackRowHeight + mid;
  const int lowestTop = Separater1->y() + TextDrawBox->height() - kScreenPitch;
  Separater1->EndMgn = centralWidget()->height() - lowestTop - mid;
}

void TKelTerm::Separater1EndDrag(QObject*, int32_t Pos, int32_t) {
  const int top = BackText->y();
  BackText->setFixedHeight(Pos > top ? Pos - top : 1);
}

void TKelTerm::PaintBox2Click() { TextDrawBox->setFocus(); }

void TKelTerm::BackTextScrollBarEnter() { TextDrawBox->setFocus(); }

void TKelTerm::BackTextScrollBarChange() { BackTextDraw(); }

// The bottom row shows the scroll position's line; only while the whole
// buffer fits does the pane start at line 0.
void TKelTerm::BackTextPlace(size_t Count) {
  const auto last = static_cast<int32_t>(std::min<size_t>(Count - 1, INT32_MAX));
  BackBottomLine = std::min(BackTextScrollBar->value(), last);
  BackTopLine = BackBottomLine - BackTextRows() + 1;
  if (BackTopLine < 0) {
    BackTopLine = 0;
    BackBottomLine = last;
  }
}

void TKelTerm::BackTextDraw() {
  size_t count;
  {
    std::lock_guard lock(TextBuffer.Mutex());
    count = TextBuffer.Count();
  }
  BackTextPlace(count);
  PaintBox2->repaint();  // nothing to paint while the pane is hidden
}

void TKelTerm::PaintBackText(QPainter& canvas) {
  std::vector<std::vector<TBackRun>> rows;
  {
    std::lock_guard lock(TextBuffer.Mutex());
    BackTextPlace(TextBuffer.Count());
    const TSelEnds ends =
        OrderSelEnds(SelAnchorLine, SelAnchorCol, SelCurLine, SelCurCol, BackTopLine);
    for (int32_t i = BackTopLine; i <= BackBottomLine; ++i)
      rows.push_back(
          BackRowRuns(TextBuffer.Line(static_cast<size_t>(i)), i, SelExists ? &ends : nullptr));
  }
  // A blank row under the last one erases what an earlier drawing left.
  rows.push_back({TBackRun{0, std::string(kBackColumns, ' '), false}});

  const QFontMetrics metrics(canvas.font());
  std::vector<ScreenChar> chars;
  for (size_t r = 0; r < rows.size(); ++r) {
    const int top = static_cast<int>(r) * kBackRowHeight;
    const int baseline = top + (kBackRowHeight + metrics.ascent() - metrics.descent()) / 2;
    for (const TBackRun& run : rows[r]) PaintRun(canvas, top, baseline, run, chars);
  }
}

// Applied only to keys at the terminal screen of the active window; a used
// key is swallowed, so it neither types a character nor reaches the host.
bool TKelTerm::AppOnMessage(QObject* Target, QEvent* Message) {
  if (Message->type() != QEvent::KeyPress || Target != TextDrawBox) return false;
  if (QApplication::activeWindow() != this || focusWidget() != TextDrawBox) return false;
  return TextDrawBoxWmKeyDown(static_cast<QKeyEvent*>(Message)->key());
}

bool TKelTerm::TextDrawBoxWmKeyDown(int Key) {
  size_t count;
  {
    std::lock_guard lock(TextBuffer.Mutex());
    count = TextBuffer.Count();
  }
  const auto lines = static_cast<int32_t>(std::min<size_t>(count, INT32_MAX));
  const TBackKeyResult r = BackScrollKey(Key, BackScroll->isChecked(), BackTextScrollBar->value(),
                                         lines, BackTextRows() + 1);
  if (!r.Used) return false;
  if (r.Pane != TPaneChange::Keep) BackScrollClick();
  BackTextScrollBar->setValue(r.Position);
  if (r.FocusScreen) TextDrawBox->setFocus();
  return true;
}

void TKelTerm::K3Click() {
  QWidget* focus = focusWidget();
  if (focus == TextDrawBox) {
    std::string text;
    GetSelBackText(text);
    SetClipboardText(DecodeCopiedText(text));
  } else if (QLineEdit* edit = EditOf(focus)) {
    edit->copy();
  }
}

void TKelTerm::K4Click() {
  QWidget* focus = focusWidget();
  if (focus == TextDrawBox) {
    std::string text;
    GetSelBackText(text);
    SetClipboardText(DecodeCopiedText(QuoteText(text)));
    return;
  }
  // Quoting works on bytes and marks only after LF, which UTF-8 keeps whole.
  const QLineEdit* edit = EditOf(focus);
  const QByteArray selected = edit ? edit->selectedText().toUtf8() : QByteArray();
  SetClipboardText(QString::fromStdString(
      QuoteText(std::string_view(selected.constData(), static_cast<size_t>(selected.size())))));
}
