#include "DeviceCombo.h"

TDeviceCombo::TDeviceCombo(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  // The box's text is the setting as typed: no completion may change it.
  setCompleter(nullptr);
}

void TDeviceCombo::showPopup() {
  if (OnDropDown) OnDropDown();
  QComboBox::showPopup();
}
