// The modem pane: port, device, line speed, dial and initialisation
// commands, each written into its settings line on every change and used at
// the next open or dial; and the about box.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>

#include "DeviceFollow.h"
#include "KTerm.h"
#include "SerialDevices.h"
#include "ShiftJis.h"

namespace {

constexpr size_t kPortLine = 0;
constexpr size_t kSpeedLine = 1;
constexpr size_t kDialCommandLine = 2;
constexpr size_t kInitCommandLine = 3;
constexpr size_t kFirstDeviceLine = 4;  // COM1; COM4 is line 7

size_t DeviceLine(int port) { return kFirstDeviceLine + static_cast<size_t>(port - 1); }

}  // namespace

// Only the menu's mark and the pane: the toolbar button keeps the state its
// own click gave it.
void TKelTerm::ModemSettingClick() {
  ModemSetting->setChecked(!ModemSetting->isChecked());
  ModemSettingPanel->setVisible(ModemSetting->isChecked());
  if (ModemSetting->isChecked()) ShowPortDevice();
}

void TKelTerm::SpeedButton1Click() { ModemSettingClick(); }

void TKelTerm::PortChange() {
  DeviceFollow->Forget();
  SetSettingLine(kPortLine, QString::number(Port->value()));
  ShowPortDevice();
  ShowPortFlow();
}

void TKelTerm::BaudRateChange() { SetSettingLine(kSpeedLine, BaudRate->currentText()); }

void TKelTerm::DialCommandChange() { SetSettingLine(kDialCommandLine, DialCommand->text()); }

void TKelTerm::ModemClearCommandChange() {
  SetSettingLine(kInitCommandLine, ModemClearCommand->text());
}

void TKelTerm::PortDeviceChange() {
  DeviceFollow->Forget();
  SetSettingLine(DeviceLine(Port->value()), PortDevice->currentText());
  PortDevice->setToolTip(PortDevice->currentText());
}

// The devices present now, the chosen port's line kept as the text. An
// unchanged list is left alone, so that a change elsewhere in the device
// folders does not disturb the user's typing.
void TKelTerm::PortDeviceDropDown() {
  QStringList paths;
  for (const std::string& path : ListSerialDevices(DeviceFollow->Root()))
    paths << QString::fromLocal8Bit(path);
  QStringList shown;
  for (int i = 0; i < PortDevice->count(); ++i) shown << PortDevice->itemText(i);
  if (paths == shown) return;
  const QSignalBlocker quiet(PortDevice);
  const QString text = PortDevice->currentText();
  PortDevice->clear();
  PortDevice->addItems(paths);
  PortDevice->setEditText(text);
}

// Shows the device line of the port in Port without writing it back; an
// empty line shows the port's usual device greyed.
void TKelTerm::ShowPortDevice() {
  PortDeviceDropDown();
  const QSignalBlocker quiet(PortDevice);
  const int port = Port->value();
  const QString text = FromShiftJis(SettingList.DevicePath(port));
  PortDevice->setEditText(text);
  PortDevice->setToolTip(text);
  PortDevice->lineEdit()->setPlaceholderText(QString::fromStdString(DefaultSerialDevice(port)));
}

void TKelTerm::K2Click() {
  auto* about = new QMessageBox(QMessageBox::Information, QStringLiteral("バージョン情報"),
                                QStringLiteral("KELTERM  Version 2.02\n"
                                               "シリアル回線用 日本語通信ターミナル\n"
                                               "KelTerm 開発グループ"),
                                QMessageBox::Ok, this);
  about->setObjectName(QStringLiteral("AboutBox"));
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}
