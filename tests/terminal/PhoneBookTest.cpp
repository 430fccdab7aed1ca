// The phone-book pane: which lines make entries, adding, deleting and editing
// them, the rule that the edit controls work only on a picked entry, and the
// settings file's bytes after Japanese names were typed.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include "PaneTestSupport.h"

namespace {

const std::string kNewName =
    "\x90\x56\x8b\x4b\x93\x6f\x98\x5e\x83\x6c\x83\x62\x83\x67";             // 新規登録ネット
const std::string kNihonHost = "\x93\xfa\x96\x7b\x83\x7a\x83\x58\x83\x67";  // 日本ホスト

std::vector<std::string> Lines(std::initializer_list<std::string> lines) { return lines; }

class PhoneBookTest : public ::testing::Test {
 protected:
  TKelTerm& OpenWith(const std::vector<TestEntry>& entries) {
    h.WriteSettings(SettingsWithEntries("", entries));
    TKelTerm& w = h.Open();
    ActivateWindow(w);
    return w;
  }
  // The five controls that act on the picked entry.
  static std::vector<QWidget*> EntryControls(TKelTerm& w) {
    return {w.DeleteNet, w.DialButton, w.NetName, w.NetTelNo, w.NetLogFileName};
  }
  static void ExpectPicked(TKelTerm& w, bool picked, const std::string& when) {
    for (QWidget* c : EntryControls(w)) EXPECT_EQ(c->isEnabled(), picked) << when;
  }
  static std::vector<std::string> EntryLines(TKelTerm& w, int entry) {
    const auto first = w.SettingList.Lines.begin() + 10 + 10 * entry;
    return std::vector<std::string>(first, first + 10);
  }

  WindowHarness h;
};

TEST_F(PhoneBookTest, EntriesAreWholeGroupsOfTenAfterTheModemBlock) {
  struct Case {
    size_t lines;
    QStringList items;
  };
  const std::vector<Case> cases = {
      {19, {}}, {20, {"line10"}}, {29, {"line10"}}, {30, {"line10", "line20"}}};
  for (const Case& c : cases) {
    WindowHarness harness;
    std::string file;
    for (size_t i = 0; i < c.lines; ++i) file += "line" + std::to_string(i) + "\r\n";
    harness.WriteSettings(file);
    TKelTerm& w = harness.Open();
    w.NetSetting->trigger();
    EXPECT_EQ(ItemTexts(w.NetList), c.items) << c.lines << " lines";
    EXPECT_EQ(w.SettingList.EntryCount(), c.items.size()) << c.lines << " lines";
    harness.CloseWindow();
    EXPECT_EQ(harness.ReadSettings(), file) << "an incomplete group is written back";
  }
}

TEST_F(PhoneBookTest, AddingToTheDefaultLinesGivesTwentyLinesAndANewEntry) {
  TKelTerm& w = h.Open();
  w.NetSetting->trigger();
  ASSERT_EQ(w.SettingList.size(), 10u);
  w.AddNet->click();
  ASSERT_EQ(w.SettingList.size(), 20u);
  EXPECT_EQ(EntryLines(w, 0),
            Lines({kNewName, "999-999-9999", "%Y%M%D.LOG", "", "", "", "", "", "", ""}));
  EXPECT_EQ(ItemTexts(w.NetList), QStringList({"新規登録ネット"}));
  EXPECT_EQ(w.NetList->currentRow(), -1) << "the new entry is not picked";
  ExpectPicked(w, false, "after adding");
  h.CloseWindow();
  std::string expected = "1\r\n38400\r\nATD\r\nATZ\r\n\r\n\r\n\r\n\r\n\r\n\r\n";
  expected += kNewName + "\r\n999-999-9999\r\n%Y%M%D.LOG\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n";
  EXPECT_EQ(h.ReadSettings(), expected);
}

TEST_F(PhoneBookTest, DeletingEntryZeroMovesTheSecondUpWithoutAsking) {
  TKelTerm& w = OpenWith({{"first", "111", "A.LOG"}, {"second", "222", "B%D.LOG"}});
  w.SettingList.Lines[25] = "kept blank line";  // entry 1's own lines travel whole
  const std::vector<std::string> second = EntryLines(w, 1);
  w.NetSetting->trigger();
  ClickItem(w.NetList, 0);
  ExpectPicked(w, true, "picked");
  w.DeleteNet->click();
  EXPECT_TRUE(h.questions.isEmpty());
  ASSERT_EQ(w.SettingList.size(), 20u);
  EXPECT_EQ(EntryLines(w, 0), second);
  EXPECT_EQ(ItemTexts(w.NetList), QStringList({"second"}));
  ExpectPicked(w, false, "after deleting");
}

TEST_F(PhoneBookTest, EditingTheNameWritesEachKeystrokeAndLeavingUpdatesTheList) {
  TKelTerm& w = OpenWith({{"alpha", "111", "A.LOG"}, {"beta", "222", "B.LOG"}});
  w.NetSetting->trigger();
  ClickItem(w.NetList, 1);
  FocusOn(w.NetName);
  ReplaceText("");
  EXPECT_EQ(w.SettingList.Line(20), "");
  const std::string typed = "gamma";
  for (size_t i = 0; i < typed.size(); ++i) {
    TypeText(QString(QChar(typed[i])));
    EXPECT_EQ(w.SettingList.Line(20), typed.substr(0, i + 1)) << "keystroke " << i;
  }
  EXPECT_EQ(ItemTexts(w.NetList), QStringList({"alpha", "beta"})) << "the list waits for the exit";

  FocusOn(w.NetTelNo);
  EXPECT_EQ(ItemTexts(w.NetList), QStringList({"alpha", "gamma"}));
  EXPECT_EQ(w.NetList->currentRow(), 1);
  ExpectPicked(w, true, "after leaving the name");

  ReplaceText("333");
  EXPECT_EQ(w.SettingList.Line(21), "333");
  FocusOn(w.NetLogFileName);
  ReplaceText("C%H.LOG");
  EXPECT_EQ(w.SettingList.Line(22), "C%H.LOG");
  FocusOn(w.NetName);
  EXPECT_EQ(ItemTexts(w.NetList), QStringList({"alpha", "gamma"})) << "number and log: no item";
  EXPECT_EQ(w.SettingList.Line(10), "alpha");
  EXPECT_EQ(w.SettingList.Line(11), "111");
}

// The click on another entry takes the focus from the name first: the list
// is rebuilt under the pointer, and the click still picks what it hit.
TEST_F(PhoneBookTest, ClickingAnotherEntryWhileEditingTheNamePicksIt) {
  TKelTerm& w = OpenWith({{"alpha", "111", "A.LOG"}, {"beta", "222", "B.LOG"}});
  w.NetSetting->trigger();
  ClickItem(w.NetList, 0);
  FocusOn(w.NetName);
  TypeText("!");
  FocusOn(w.NetList);  // what the press does before the list sees it
  ClickItem(w.NetList, 1);
  EXPECT_EQ(ItemTexts(w.NetList), QStringList({"alpha!", "beta"}));
  EXPECT_EQ(w.NetList->currentRow(), 1);
  EXPECT_EQ(w.NetName->text(), "beta");
  ExpectPicked(w, true, "the clicked entry");
}

TEST_F(PhoneBookTest, EveryRebuildDropsThePick) {
  TKelTerm& w = OpenWith({{"a", "1", "A.LOG"}, {"b", "2", "B.LOG"}});
  struct Step {
    const char* what;
    std::function<void()> act;
    bool shown;
  };
  const std::vector<Step> steps = {
      {"menu opens", [&] { w.NetSetting->trigger(); }, true},
      {"menu closes", [&] { w.NetSetting->trigger(); }, false},
      {"button opens", [&] { w.SpeedButton2->click(); }, true},
      {"close button", [&] { w.BitBtn4->click(); }, false},
      {"menu opens again", [&] { w.NetSetting->trigger(); }, true},
      {"adding", [&] { w.AddNet->click(); }, true},
  };
  for (const Step& s : steps) {
    if (w.NetSettingPanel->isVisible()) {
      ClickItem(w.NetList, 1);
      ExpectPicked(w, true, std::string("picked before: ") + s.what);
    }
    s.act();
    EXPECT_EQ(w.NetSettingPanel->isVisible(), s.shown) << s.what;
    EXPECT_EQ(w.NetSetting->isChecked(), s.shown) << s.what;
    EXPECT_EQ(w.SpeedButton2->isChecked(), s.shown) << s.what;
    if (s.shown) {
      EXPECT_EQ(w.NetList->currentRow(), -1) << s.what;
      ExpectPicked(w, false, s.what);
    }
  }
  EXPECT_EQ(w.NetList->count(), 3);
  EXPECT_TRUE(WaitUntil([&] { return w.TextDrawBox->hasFocus(); }));
}

TEST_F(PhoneBookTest, JapaneseNamesAreStoredAsShiftJisAndReadBackByteForByte) {
  TKelTerm& w = OpenWith({{"ascii", "1", "A.LOG"}, {"old\xff", "2", "B.LOG"}});
  w.NetSetting->trigger();
  ClickItem(w.NetList, 0);
  FocusOn(w.NetName);
  ReplaceText("日本ホスト");
  FocusOn(w.NetLogFileName);
  ReplaceText("接続%D.LOG");
  FocusOn(w.NetTelNo);
  EXPECT_EQ(ItemTexts(w.NetList).first(), "日本ホスト");
  h.CloseWindow();
  const std::string written = h.ReadSettings();
  const std::string expected = SettingsWithEntries(
      "", {{kNihonHost, "1", "\x90\xda\x91\xb1%D.LOG"}, {"old\xff", "2", "B.LOG"}});
  EXPECT_EQ(written, expected);

  WindowHarness again;
  again.WriteSettings(written);
  TKelTerm& w2 = again.Open();
  w2.NetSetting->trigger();
  EXPECT_EQ(ItemTexts(w2.NetList).first(), "日本ホスト");
  ClickItem(w2.NetList, 0);
  ClickItem(w2.NetList, 1);
  again.CloseWindow();
  EXPECT_EQ(again.ReadSettings(), written);
}

}  // namespace
