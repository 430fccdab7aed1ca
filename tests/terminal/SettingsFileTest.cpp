// The settings file as the window reads it at start and writes it at exit.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSpinBox>

#include "WindowTestSupport.h"

namespace {

TEST(SettingsFileTest, ModemPaneShowsTheFilesValuesAndExitWritesThemBack) {
  struct Case {
    std::string file, saved;
    int port;
    QString speed, dial;
  } cases[] = {
      {"", "1\r\n38400\r\nATD\r\nATZ\r\n\r\n\r\n\r\n\r\n\r\n\r\n", 1, "38400", "ATD"},
      {"x\r\n1200\r\nATDP\r\n", "x\r\n1200\r\nATDP\r\n", 1, "1200", "ATDP"},
      {"3\r19200\r\x83\x5c", "3\r\n19200\r\n\x83\x5c\r\n", 3, "19200", "ソ"},
  };
  for (const auto& c : cases) {
    WindowHarness h;
    if (!c.file.empty()) h.WriteSettings(c.file);
    TKelTerm& w = h.Open();
    EXPECT_EQ(w.Port->value(), c.port) << c.file;
    EXPECT_EQ(w.BaudRate->currentText(), c.speed) << c.file;
    EXPECT_EQ(w.DialCommand->text(), c.dial) << c.file;
    h.CloseWindow();
    EXPECT_EQ(h.ReadSettings(), c.saved);
    EXPECT_TRUE(h.errorBoxes.isEmpty()) << c.file;
  }
}

TEST(SettingsFileTest, UnreadableFileIsShownAndNeverReplacedWithDefaults) {
  WindowHarness h;
  ASSERT_TRUE(QDir().mkpath(h.SettingsPath()));  // there, but no file to read
  TKelTerm& w = h.Open();
  ASSERT_EQ(h.errorBoxes.size(), 1);
  EXPECT_TRUE(h.errorBoxes[0].contains(QStringLiteral("Kelterm.ini")));
  EXPECT_EQ(w.DialCommand->text(), "ATD");
  h.CloseWindow();
  EXPECT_EQ(h.errorBoxes.size(), 1) << "nothing was written, so nothing failed";
  EXPECT_TRUE(QFileInfo(h.SettingsPath()).isDir());
}

}  // namespace
