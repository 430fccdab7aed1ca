// The modem pane: each box writes its settings line as typed and the next
// open uses it; the device of each port; the menu and the toolbar button;
// the serial devices offered.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "PaneTestSupport.h"
#include "SerialDevice.h"
#include "SerialDevices.h"

namespace {

class ModemPaneTest : public ::testing::Test {
 protected:
  TKelTerm& OpenShown(const std::string& settings) {
    if (!settings.empty()) h.WriteSettings(settings);
    TKelTerm& w = h.Open();
    ActivateWindow(w);
    w.ModemSetting->trigger();
    return w;
  }
  static QString DeviceBox(TKelTerm& w) { return w.PortDevice->currentText(); }

  WindowHarness h;
};

TEST_F(ModemPaneTest, EachBoxWritesItsLineOnEveryKeystroke) {
  TKelTerm& w = OpenShown("");
  struct Case {
    QWidget* box;
    size_t line;
    QString typed;
  };
  const std::vector<Case> cases = {
      {w.BaudRate, 1, "fast"},
      {w.DialCommand, 2, "ATDP"},
      {w.ModemClearCommand, 3, "AT&F"},
      {w.PortDevice, 4, "/dev/ttyUSB0"},
  };
  for (const Case& c : cases) {
    FocusOn(c.box);
    ReplaceText("");
    EXPECT_EQ(w.SettingList.Line(c.line), "") << c.line;
    for (int i = 0; i < c.typed.size(); ++i) {
      TypeText(c.typed.mid(i, 1));
      EXPECT_EQ(w.SettingList.Line(c.line), c.typed.left(i + 1).toStdString()) << c.line;
    }
  }
  FocusOn(w.Port);
  PressKey(Qt::Key_Up);
  EXPECT_EQ(w.SettingList.Line(0), "2");
  EXPECT_EQ(DeviceBox(w), "") << "COM2 has its own, empty, device line";
  FocusOn(w.PortDevice);
  TypeText("virtual:two");
  EXPECT_EQ(w.SettingList.Line(5), "virtual:two");
  w.Port->setValue(1);
  EXPECT_EQ(DeviceBox(w), "/dev/ttyUSB0");
  h.CloseWindow();
  EXPECT_EQ(h.ReadSettings(),
            "1\r\nfast\r\nATDP\r\nAT&F\r\n/dev/ttyUSB0\r\nvirtual:two\r\n\r\n\r\n\r\n\r\n");
}

TEST_F(ModemPaneTest, TheNextOpenUsesTheTypedPortDeviceAndSpeed) {
  TestLine line;
  TKelTerm& w = OpenShown("");
  struct Case {
    QString speed;
    int opened;
  };
  for (const Case& c : std::vector<Case>{{"57600", 57600}, {"fast", 38400}}) {
    FocusOn(w.Port);
    ReplaceText("3");
    FocusOn(w.PortDevice);
    ReplaceText(QString::fromStdString(line.DevicePath()));
    FocusOn(w.BaudRate);
    ReplaceText(c.speed);
    w.PortOC->click();
    ASSERT_TRUE(w.KELCOMM1->IsOpen()) << h.statusTexts.last().toStdString();
    EXPECT_EQ(w.KELCOMM1->Port(), 3);
    EXPECT_EQ(w.KELCOMM1->DevicePath(), line.DevicePath());
    EXPECT_EQ(w.KELCOMM1->BaudRate(), c.opened) << c.speed.toStdString();
    EXPECT_TRUE(line.far().ModemStatus() & MS_DSR_ON) << "the window's DTR is up";
    w.PortOC->click();
    ASSERT_FALSE(w.KELCOMM1->IsOpen());
  }
  EXPECT_EQ(w.SettingList.Line(6), line.DevicePath());
  EXPECT_EQ(w.SettingList.Line(4), "") << "COM1's device untouched";
}

TEST_F(ModemPaneTest, MenuSwitchesThePaneAndLeavesTheButtonAsItWas) {
  TKelTerm& w = h.Open();
  struct Step {
    const char* what;
    std::function<void()> act;
    bool shown, button;
  };
  const std::vector<Step> steps = {
      {"button", [&] { w.SpeedButton1->click(); }, true, true},
      {"menu", [&] { w.ModemSetting->trigger(); }, false, true},
      {"button", [&] { w.SpeedButton1->click(); }, true, false},
      {"menu", [&] { w.ModemSetting->trigger(); }, false, false},
  };
  int n = 0;
  for (const Step& s : steps) {
    s.act();
    EXPECT_EQ(w.ModemSettingPanel->isVisible(), s.shown) << n << " " << s.what;
    EXPECT_EQ(w.ModemSetting->isChecked(), s.shown) << n << " " << s.what;
    EXPECT_EQ(w.SpeedButton1->isChecked(), s.button) << n << " " << s.what;
    ++n;
  }
}

TEST(SerialDevicesTest, ListsStableNamesFirstThenEachKindInNumericOrder) {
  QTemporaryDir root;
  namespace fs = std::filesystem;
  const fs::path dev = root.path().toStdString();
  fs::create_directories(dev / "serial" / "by-id");
  fs::create_directories(dev / "ttyUSBfolder");
  for (const char* name :
       {"serial/by-id/usb-B-if00", "serial/by-id/usb-A-if00", "ttyUSB10", "ttyUSB2", "ttyACM0",
        "ttyS10", "ttyS2", "ttyS0", "tty0", "console", "ttyS"})
    std::ofstream(dev / name) << "";
  const std::string d = dev.string();
  EXPECT_EQ(ListSerialDevices(d),
            std::vector<std::string>(
                {d + "/serial/by-id/usb-A-if00", d + "/serial/by-id/usb-B-if00", d + "/ttyUSB2",
                 d + "/ttyUSB10", d + "/ttyACM0", d + "/ttyS0", d + "/ttyS2", d + "/ttyS10"}));
  EXPECT_TRUE(ListSerialDevices(d + "/missing").empty());
  EXPECT_EQ(DefaultSerialDevice(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultSerialDevice(4), "/dev/ttyS3");
}

TEST_F(ModemPaneTest, DeviceListIsTheDevicesPresentAndKeepsTheTypedText) {
  TKelTerm& w = OpenShown("");
  FocusOn(w.PortDevice);
  TypeText("/dev/pts/7");
  w.PortDevice->showPopup();
  QStringList expected;
  for (const std::string& path : ListSerialDevices()) expected << QString::fromStdString(path);
  QStringList items;
  for (int i = 0; i < w.PortDevice->count(); ++i) items << w.PortDevice->itemText(i);
  w.PortDevice->hidePopup();
  EXPECT_EQ(items, expected);
  EXPECT_EQ(DeviceBox(w), "/dev/pts/7");
  EXPECT_EQ(w.SettingList.Line(4), "/dev/pts/7");
}

}  // namespace
