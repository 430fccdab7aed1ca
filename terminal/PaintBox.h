#pragma once
// A plain drawing surface, as the window's text areas use it: the owner
// draws through OnPaint and hears clicks and mouse moves through the other
// hooks. Main thread only.

#include <QWidget>
#include <functional>

class QPainter;
class QMouseEvent;

class TPaintBox : public QWidget {
  Q_OBJECT
 public:
  explicit TPaintBox(QWidget* parent = nullptr);

  std::function<void(QPainter& canvas)> OnPaint;
  std::function<void()> OnClick;
  std::function<void(QMouseEvent* event)> OnMouseDown;
  std::function<void(QMouseEvent* event)> OnMouseMove;
  std::function<void(QMouseEvent* event)> OnMouseUp;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};
