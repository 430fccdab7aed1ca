#pragma once
// An editable combo box that asks for its list just before it drops down, so
// that an adapter plugged in while the window is open is offered at once.
// Main thread only.

#include <QComboBox>
#include <functional>

class TDeviceCombo : public QComboBox {
 public:
  explicit TDeviceCombo(QWidget* parent = nullptr);

  // Called before the list is shown; it may replace the items.
  std::function<void()> OnDropDown;

  void showPopup() override;
};
