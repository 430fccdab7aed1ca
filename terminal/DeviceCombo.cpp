#include "DeviceCombo.h"

#include "ElidedText.h"

TDeviceCombo::TDeviceCombo(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  // Device paths outgrow the box: shown elided while the user is elsewhere.
  setLineEdit(new TElidedLineEdit(QString(), this));
  setInsertPolicy(QComboBox::NoInsert);
  // The box's text is the setting as typed: no completion may change it.
  setCompleter(nullptr);
}

void TDeviceCombo::showPopup() {
  if (OnDropDown) OnDropDown();
  QComboBox::showPopup();
}
