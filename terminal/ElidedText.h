#pragma once
// Widgets for the user's own texts, which can be of any length (paths, log
// names, devices): a text wider than its room shows with "…" in the middle,
// so that both its start and its end stay readable, and the tool tip always
// carries it whole. How a text is made is its owner's business; these only
// decide how much of it fits. Main thread only.

#include <QLabel>
#include <QLineEdit>

// A label whose width is given to it, by a layout or its owner. It asks for
// the whole text's width but takes less when the room is short.
class TElidedLabel : public QLabel {
 public:
  explicit TElidedLabel(QWidget* parent = nullptr);

  void SetWholeText(const QString& text);
  const QString& WholeText() const { return whole_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Elide();

  QString whole_;
};

// An edit box that edits as usual while the user is in it; otherwise a text
// wider than the box shows elided instead of scrolled to one end.
class TElidedLineEdit : public QLineEdit {
 public:
  explicit TElidedLineEdit(const QString& text = {}, QWidget* parent = nullptr);

  // What the box shows at present.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextRoom() const;
};
