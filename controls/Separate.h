#pragma once
// TSeparater: a thin bar that the user drags with the left button to resize
// the control beside it. While the button is held, an inverted line follows
// the pointer across the bar's parent, kept between TopMgn and the parent's
// size minus EndMgn; the release erases the line, resizes ReSizeCtrl when
// one is set and reports the new position through OnEndDrag. The bar never
// moves itself: whoever resizes the neighbour lets the layout place it.
//
// The line is an overlay on the top-level window that shows the inverted
// pixels of a grab of the area under it, so it inverts child controls too;
// drawing the line a second time at the same place takes the overlay away,
// which restores the pixels exactly. Main thread only.

#include <QCursor>
#include <QFrame>
#include <QPointer>
#include <QRect>
#include <cstdint>
#include <functional>

class QLabel;

// Vertical: a horizontal bar that moves up and down and changes heights.
// Level: an upright bar that moves left and right and changes widths.
enum class Tkind { Vertical = 0, Level = 1 };

// Top: fixed height, full width; Left: fixed width, full height.
enum class TAlign { alNone, alTop, alLeft };

// Sender is the splitter; Pos is the bar's new top (Vertical) or left
// (Level) in the parent's coordinates; Cg is Pos minus the current one.
using TMyEvent = std::function<void(QObject* Sender, int32_t Pos, int32_t Cg)>;
using TNotifyEvent = std::function<void(QObject* Sender)>;

class TSeparater : public QFrame {
  Q_OBJECT
 public:
  explicit TSeparater(QWidget* Owner = nullptr);
  ~TSeparater() override;

  Tkind Kind() const { return kind_; }
  void SetKind(Tkind Value);
  QColor Color() const;
  void SetColor(const QColor& Value);
  TAlign Align() const { return align_; }
  void SetAlign(TAlign Value);
  QWidget* ReSizeCtrl() const { return reSizeCtrl_; }
  void SetReSizeCtrl(QWidget* Value);

  TMyEvent OnEndDrag;
  TNotifyEvent OnStartDrag;
  int32_t TopMgn = 1;     // smallest line position
  int32_t EndMgn = 6;     // distance kept from the parent's far edge
  int32_t LineWidth = 3;  // thickness of the drag line, in pixels

  // The step after the properties of a stored form have been read: the
  // thickness and cursor the Kind setter put aside come back, so that a bar
  // stored with its own size keeps it.
  void Loaded();
  // A control is going away; a controlled one is forgotten.
  void Notification(QObject* AComponent);

  bool Dragging() const { return dragging_; }

 protected:
  virtual void NotifyEndDrag(QObject* Sender, int32_t Pos, int32_t Cg);
  virtual void NotifyStartDrag(QObject* Sender);

  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int32_t BarStart() const;   // top for Vertical, left for Level
  int32_t Thickness() const;  // height for Vertical, width for Level
  void SetThickness(int32_t size);
  int32_t ParentExtent() const;  // the parent's client height or width
  QRect LineRect(int32_t p) const;
  void DrawLine(int32_t p);  // inverts at p; a second call at p restores
  void EndLine();

  Tkind kind_ = Tkind::Vertical;
  TAlign align_ = TAlign::alNone;
  QWidget* reSizeCtrl_ = nullptr;  // not owned; cleared by Notification
  QMetaObject::Connection reSizeGone_;

  bool dragging_ = false;
  QPointer<QWidget> dragForm_;
  QRect dragArea_;
  int32_t linePos_ = 0;
  int32_t grabOffset_ = 0;
  int32_t midOffset_ = 0;
  int32_t savedSize_ = 5;
  QCursor savedCursor_{Qt::SplitVCursor};
  QPointer<QLabel> line_;  // the overlay; shown while the line is drawn
  int32_t lineAt_ = 0;
};
