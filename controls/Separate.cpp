#include "Separate.h"

#include <QBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>

namespace {

constexpr int32_t kBarThickness = 5;

// The controlled control goes first in the parent's stacking order, right
// before the bar, so that resizing it moves the bar.
void StackBefore(QWidget* control, QWidget* bar) {
  auto* box =
      qobject_cast<QBoxLayout*>(bar->parentWidget() ? bar->parentWidget()->layout() : nullptr);
  if (!box || control->parentWidget() != bar->parentWidget()) return;
  if (box->indexOf(control) < 0 || box->indexOf(bar) < 0) return;
  box->removeWidget(control);
  box->insertWidget(box->indexOf(bar), control);
}

}  // namespace

TSeparater::TSeparater(QWidget* Owner) : QFrame(Owner) {
  // The component's signature; it is never shown.
  const QString version = QStringLiteral("TSeparater Component Version 1.1SB zezediriz");
  Q_UNUSED(version);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setAutoFillBackground(true);
  LineWidth = 3;
  setCursor(Qt::SplitVCursor);
  SetAlign(TAlign::alTop);
  SetThickness(kBarThickness);
  EndMgn = 6;
  TopMgn = 1;
  kind_ = Tkind::Vertical;
}

TSeparater::~TSeparater() {
  if (line_) delete line_.data();
}

void TSeparater::SetKind(Tkind Value) {
  savedCursor_ = cursor();
  savedSize_ = Value == Tkind::Vertical ? height() : width();
  kind_ = Value;
  if (Value == Tkind::Vertical) {
    setCursor(Qt::SplitVCursor);
    SetAlign(TAlign::alTop);
  } else {
    setCursor(Qt::SplitHCursor);
    SetAlign(TAlign::alLeft);
  }
  SetThickness(kBarThickness);
}

QColor TSeparater::Color() const { return palette().color(QPalette::Window); }

void TSeparater::SetColor(const QColor& Value) {
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Value);
  setPalette(pal);
}

void TSeparater::SetAlign(TAlign Value) {
  align_ = Value;
  const int32_t size = Thickness();
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  if (Value == TAlign::alTop) setFixedHeight(size);
  if (Value == TAlign::alLeft) setFixedWidth(size);
}

void TSeparater::SetReSizeCtrl(QWidget* Value) {
  if (reSizeGone_) disconnect(reSizeGone_);
  reSizeCtrl_ = Value;
  if (!Value) return;
  reSizeGone_ =
      connect(Value, &QObject::destroyed, this, [this](QObject* gone) { Notification(gone); });
  if (kind_ == Tkind::Vertical) {
    Value->move(Value->x(), -1);
    Value->setFixedHeight(Value->height());
  } else {
    Value->move(-1, Value->y());
    Value->setFixedWidth(Value->width());
  }
  StackBefore(Value, this);
}

void TSeparater::Loaded() {
  setCursor(savedCursor_);
  SetThickness(savedSize_);
}

void TSeparater::Notification(QObject* AComponent) {
  if (!AComponent || AComponent != reSizeCtrl_) return;
  disconnect(reSizeGone_);
  reSizeCtrl_ = nullptr;
}

void TSeparater::NotifyEndDrag(QObject* Sender, int32_t Pos, int32_t Cg) {
  Q_UNUSED(Sender);
  if (OnEndDrag) OnEndDrag(this, Pos, Cg);
}

void TSeparater::NotifyStartDrag(QObject* Sender) {
  if (OnStartDrag) OnStartDrag(Sender);
}

int32_t TSeparater::BarStart() const { return kind_ == Tkind::Vertical ? y() : x(); }

int32_t TSeparater::Thickness() const { return kind_ == Tkind::Vertical ? height() : width(); }

void TSeparater::SetThickness(int32_t size) {
  size = std::max(size, 0);
  if (kind_ == Tkind::Vertical) {
    if (align_ == TAlign::alTop)
      setFixedHeight(size);
    else
      resize(width(), size);
  } else {
    if (align_ == TAlign::alLeft)
      setFixedWidth(size);
    else
      resize(size, height());
  }
}

int32_t TSeparater::ParentExtent() const {
  const QWidget* parent = parentWidget();
  if (!parent) return 0;
  return kind_ == Tkind::Vertical ? parent->height() : parent->width();
}

void TSeparater::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !parentWidget()) return;
  QWidget* form = window();
  QWidget* parent = parentWidget();
  dragForm_ = form;
  if (parent == form)
    dragArea_ = QRect(0, 0, form->width(), form->height());
  else
    dragArea_ = QRect(parent->mapTo(form, QPoint(0, 0)), parent->size());
  NotifyStartDrag(this);
  dragging_ = true;
  midOffset_ = Thickness() / 2;
  const QPoint at = event->position().toPoint();
  grabOffset_ = (kind_ == Tkind::Vertical ? at.y() : at.x()) - midOffset_;
  linePos_ = BarStart() + midOffset_;
  DrawLine(linePos_);
}

void TSeparater::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  DrawLine(linePos_);
  const QPoint at = event->position().toPoint();
  int32_t t = BarStart() + (kind_ == Tkind::Vertical ? at.y() : at.x()) - grabOffset_;
  if (t < TopMgn)
    t = TopMgn;
  else if (t > ParentExtent() - EndMgn)
    t = ParentExtent() - EndMgn;
  linePos_ = t;
  DrawLine(linePos_);
}

void TSeparater::mouseReleaseEvent(QMouseEvent*) {
  if (!dragging_) return;
  dragging_ = false;
  DrawLine(linePos_);
  EndLine();
  const int32_t n = linePos_ - midOffset_;
  if (QWidget* control = reSizeCtrl_) {
    // A size below one pixel would take the control out of sight for good.
    if (kind_ == Tkind::Vertical)
      control->setFixedHeight(std::max(1, n - control->y()));
    else
      control->setFixedWidth(std::max(1, n - control->x()));
  }
  NotifyEndDrag(this, n, n - BarStart());
}

QRect TSeparater::LineRect(int32_t p) const {
  const int32_t half = LineWidth / 2;
  if (kind_ == Tkind::Vertical)
    return QRect(dragArea_.left(), dragArea_.top() + p - half, dragArea_.width(), LineWidth);
  return QRect(dragArea_.left() + p - half, dragArea_.top(), LineWidth, dragArea_.height());
}

// Inverting twice gives the pixels back, so the second drawing at the same
// place simply takes the overlay away.
void TSeparater::DrawLine(int32_t p) {
  QWidget* form = dragForm_.data();
  if (!form || LineWidth <= 0) return;
  if (line_ && line_->isVisible() && lineAt_ == p) {
    line_->hide();
    return;
  }
  if (line_) line_->hide();
  const QRect rect = LineRect(p).intersected(form->rect());
  if (rect.isEmpty()) return;
  QImage under = form->grab(rect).toImage().convertToFormat(QImage::Format_RGB32);
  under.invertPixels();
  if (!line_) {
    line_ = new QLabel(form);
    line_->setAttribute(Qt::WA_TransparentForMouseEvents);
    line_->setScaledContents(true);
  }
  line_->setPixmap(QPixmap::fromImage(under));
  line_->setGeometry(rect);
  line_->raise();
  line_->show();
  lineAt_ = p;
}

void TSeparater::EndLine() {
  if (line_) delete line_.data();
  dragForm_ = nullptr;
}
