// The settings file as the window reads it at start and writes it at exit.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include "WindowTestSupport.h"

namespace {

const std::string kNewFile = "1\r\n38400\r\nATD\r\nATZ\r\n\r\n\r\n\r\n\r\n\r\n\r\n";

TEST(SettingsFileTest, FirstStartWritesTheTenDefaultLinesAtExit) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  EXPECT_EQ(w.Port->value(), 1);
  EXPECT_EQ(w.BaudRate->currentText(), "38400");
  EXPECT_EQ(w.DialCommand->text(), "ATD");
  EXPECT_EQ(w.ModemClearCommand->text(), "ATZ");
  EXPECT_EQ(h.ReadSettings(), "<missing>") << "written only at exit";
  h.CloseWindow();
  EXPECT_EQ(h.ReadSettings(), kNewFile);
  EXPECT_TRUE(h.errorBoxes.isEmpty());
}

TEST(SettingsFileTest, ModemPaneShowsTheFilesValues) {
  struct Case {
    std::string file;
    int port;
    QString speed, dial, init;
  };
  const std::vector<Case> cases = {
      {"9\r\n9600\r\nATDT\r\nATZ0\r\n", 4, "9600", "ATDT", "ATZ0"},
      {"x\r\n1200\r\nATDP\r\nAT&F\r\n", 1, "1200", "ATDP", "AT&F"},
      {"3\r19200\rATD\rATZ\r", 3, "19200", "ATD", "ATZ"},
      {"2\n57600\nATX\nATY\n", 2, "57600", "ATX", "ATY"},
      {"4\r\n", 4, "38400", "ATD", "ATZ"},
      {"\x82\xa0\r\nabc\r\n\x83\x5c\r\n", 1, "abc", "ソ", "ATZ"},
  };
  for (const auto& c : cases) {
    WindowHarness h;
    h.WriteSettings(c.file);
    TKelTerm& w = h.Open();
    EXPECT_EQ(w.Port->value(), c.port) << c.file;
    EXPECT_EQ(w.BaudRate->currentText(), c.speed) << c.file;
    EXPECT_EQ(w.DialCommand->text(), c.dial) << c.file;
    EXPECT_EQ(w.ModemClearCommand->text(), c.init) << c.file;
    h.CloseWindow();
    EXPECT_EQ(w.SettingList.Line(0), c.file.substr(0, c.file.find_first_of("\r\n")));
  }
}

// Whatever the file holds goes back byte for byte: line ends become CR LF,
// nothing else changes.
TEST(SettingsFileTest, LinesAreWrittenBackAsRead) {
  std::string longLine(100 * 1024, 'z');
  longLine[77] = '\x81';  // a lead byte without its trail
  std::string twentyFive;
  for (int i = 0; i < 25; ++i) twentyFive += "line" + std::to_string(i) + "\r\n";
  const std::string odd = "\xff\xfe\x80\xa0\x82";
  struct Case {
    const char* name;
    std::string file;
    std::string saved;
  };
  const std::vector<Case> cases = {
      {"25 lines", twentyFive, twentyFive},
      {"cr only", "2\r9600\rATD\rATZ\r\r\r\r\r\r\r",
       "2\r\n9600\r\nATD\r\nATZ\r\n\r\n\r\n\r\n\r\n\r\n\r\n"},
      {"lf only", "2\n9600\nATD\nATZ\n", "2\r\n9600\r\nATD\r\nATZ\r\n"},
      {"two lines", "3\r\n2400\r\n", "3\r\n2400\r\n"},
      {"no line end", "3", "3\r\n"},
      {"long and odd bytes", "1\r\n38400\r\n" + longLine + "\r\n" + odd + "\r\n" + odd,
       "1\r\n38400\r\n" + longLine + "\r\n" + odd + "\r\n" + odd + "\r\n"},
  };
  for (const auto& c : cases) {
    WindowHarness h;
    h.WriteSettings(c.file);
    TKelTerm& w = h.Open();
    h.CloseWindow();
    EXPECT_EQ(h.ReadSettings(), c.saved) << c.name;
    if (std::string(c.name) == "25 lines") {
      EXPECT_EQ(w.SettingList.EntryCount(), 1);
    }
    EXPECT_TRUE(h.errorBoxes.isEmpty()) << c.name;
  }
}

}  // namespace
