// The first start's settings: written only where there is no settings file,
// in the file's own layout, and shown by the window as a picked phone-book
// entry.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include "DemoSettings.h"
#include "PaneTestSupport.h"
#include "ProgramFolder.h"

namespace {

// Port 1 on the demo line, then the demo host with seven empty lines.
const std::string kDemoFile =
    "1\r\n38400\r\nATD\r\nATZ\r\nvirtual:demo\r\n\r\n\r\n\r\n\r\n\r\n"
    "\x83\x66\x83\x82\x83\x7a\x83\x58\x83\x67\r\n03-1234-5678\r\nDEMO%y%M%D.LOG\r\n"
    "\r\n\r\n\r\n\r\n\r\n\r\n\r\n";

TEST(DemoSettingsTest, MissingFileIsWrittenAndTheWindowShowsTheDemoHost) {
  WindowHarness h;
  ASSERT_TRUE(WriteDemoSettings("demo"));
  EXPECT_EQ(h.ReadSettings(), kDemoFile);

  TKelTerm& w = h.Open();
  ShowDemoEntry(w);
  EXPECT_TRUE(w.NetSettingPanel->isVisible());
  EXPECT_TRUE(w.NetSetting->isChecked());
  EXPECT_TRUE(w.SpeedButton2->isChecked());
  EXPECT_EQ(ItemTexts(w.NetList), QStringList({"デモホスト"}));
  EXPECT_EQ(w.NetList->currentRow(), 0);
  EXPECT_TRUE(w.DialButton->isEnabled());
  EXPECT_EQ(w.NetName->text(), "デモホスト");
  EXPECT_EQ(w.NetTelNo->text(), "03-1234-5678");
  EXPECT_EQ(w.NetLogFileName->text(), "DEMO%y%M%D.LOG");
  EXPECT_EQ(w.SettingList.DevicePath(1), "virtual:demo");
  EXPECT_EQ(w.SettingList.PortNumber(), 1);

  // The phone book's own new entry has the same lines after the template.
  w.AddNet->click();
  ASSERT_EQ(w.SettingList.EntryCount(), 2);
  const auto& lines = w.SettingList.Lines;
  for (size_t i = 3; i < TSettingList::kEntryLines; ++i)
    EXPECT_EQ(lines[10 + i], lines[20 + i]) << "entry line " << i;
  ClickItem(w.NetList, 1);
  w.DeleteNet->click();
  ASSERT_EQ(w.SettingList.EntryCount(), 1);

  h.CloseWindow();
  EXPECT_EQ(h.ReadSettings(), kDemoFile) << "the window writes back what it read";
  EXPECT_TRUE(h.errorBoxes.isEmpty()) << h.errorBoxes.join("|").toStdString();
}

// Whatever stands under the settings file's name stays as it is, and the
// window is not told to show the demo entry.
TEST(DemoSettingsTest, ExistingFileIsLeftByteForByte) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"user's settings", "2\r\n9600\r\nATDT\r\nATZ\r\n/dev/ttyUSB0\r\n"},
      {"empty", ""},
      {"damaged", std::string("\xff\xfe\x00\x81\r\r\n\x1a garbage", 16)},
  };
  for (const Case& c : cases) {
    WindowHarness h;
    h.WriteSettings(c.bytes);
    EXPECT_FALSE(WriteDemoSettings("demo")) << c.what;
    EXPECT_EQ(h.ReadSettings(), c.bytes) << c.what;
  }
}

TEST(DemoSettingsTest, UnreadableNamesAreNotReplaced) {
  {
    // A folder where the file should be: no file can be read or written.
    WindowHarness h;
    ASSERT_TRUE(QDir().mkpath(h.SettingsPath()));
    EXPECT_FALSE(WriteDemoSettings("demo"));
    EXPECT_TRUE(QFileInfo(h.SettingsPath()).isDir());
  }
  {
    // A link whose target is gone: following it would create a file
    // elsewhere.
    WindowHarness h;
    const QString target = ProgramFilePath("elsewhere.ini");
    ASSERT_TRUE(QFile::link(target, h.SettingsPath()));
    EXPECT_FALSE(WriteDemoSettings("demo"));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(QFileInfo(h.SettingsPath()).isSymLink());
  }
}

}  // namespace
