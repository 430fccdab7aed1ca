// What the window shows at start: size, menus, toolbar, panes, and the
// progress dialog.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "KCommSDg.h"
#include "PaintBox.h"
#include "WindowTestSupport.h"

namespace {

TEST(WindowLayoutTest, WidthIsFixedAndHeightFollows) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  EXPECT_EQ(w.windowTitle(), "KELTERM");
  EXPECT_EQ(w.size(), QSize(655, 529));
  w.resize(900, 700);
  ASSERT_TRUE(WaitUntil([&] { return w.height() == 700; }));
  EXPECT_EQ(w.width(), 655);
  w.resize(300, 400);
  ASSERT_TRUE(WaitUntil([&] { return w.height() == 400; }));
  EXPECT_EQ(w.width(), 655);
  EXPECT_EQ(w.minimumWidth(), 655);
  EXPECT_EQ(w.maximumWidth(), 655);
}

TEST(WindowLayoutTest, ProtocolComboStartsOnZmodem) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  ASSERT_EQ(w.Protocol->count(), 7);
  const QStringList names = {"XMODEM [SUM] 128byte",
                             "XMODEM [CRC] 128byte",
                             "XMODEM [CRC] 1024byte",
                             "YMODEM",
                             "YMODEM-G",
                             "ZMODEM",
                             "M-LINK"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(w.Protocol->itemText(i), names[i]);
  EXPECT_EQ(w.Protocol->currentText(), "ZMODEM");
  EXPECT_EQ(w.KELCOMM1->Protocol.load(), pr_ZMODEM);
  w.Protocol->setCurrentIndex(1);
  EXPECT_EQ(w.KELCOMM1->Protocol.load(), pr_XMODEM_CRC_128);
  EXPECT_EQ(w.Protocol->width(), 137);
}

TEST(WindowLayoutTest, MenusHoldTheirItemsInOrder) {
  struct Row {
    const char* menu;
    const char* caption;  // "-" for a separator
    QKeySequence shortcut;
    bool checkable;
    bool checked;
  };
  const QKeySequence none;
  const std::vector<Row> rows = {
      {"ファイル(&F)", "キー入力(&K)", none, true, true},
      {"ファイル(&F)", "オープンポート(&P)", none, true, false},
      {"ファイル(&F)", "バッファをクリア(&C)", none, false, false},
      {"ファイル(&F)", "-", none, false, false},
      {"ファイル(&F)", "終了(&X)", none, false, false},
      {"編集(&E)", "コピー(&C)", QKeySequence("Ctrl+C"), false, false},
      {"編集(&E)", "引用符付きコピー", QKeySequence("Ctrl+O"), false, false},
      {"編集(&E)", "送信(&P)", QKeySequence("Ctrl+V"), false, false},
      {"編集(&E)", "引用符付きで送信(&S)", QKeySequence("Ctrl+Q"), false, false},
      {"表示(&V)", "バックスクロール(&B)", none, true, false},
      {"表示(&V)", "１行編集(&L)", QKeySequence("Alt+C"), true, false},
      {"表示(&V)", "-", none, false, false},
      {"表示(&V)", "ツールバー(&T)", none, true, true},
      {"表示(&V)", "ステータスバー(&S)", none, true, true},
      {"ファイル転送(&T)", "アップロード(&U)", QKeySequence("Alt+U"), false, false},
      {"ファイル転送(&T)", "ダウンロード(&D)", QKeySequence("Alt+D"), false, false},
      {"電話帳(&N)", nullptr, none, true, false},
      {"設定(&S)", "モデム設定(&M)", none, true, false},
      {"ヘルプ(&H)", "バージョン情報'(&A)", none, false, false},
  };
  WindowHarness h;
  TKelTerm& w = h.Open();
  QStringList tops;
  for (QAction* top : w.menuBar()->actions()) {
    tops << top->text();
    if (!top->menu()) {
      const auto it = std::find_if(rows.begin(), rows.end(),
                                   [&](const Row& r) { return top->text() == r.menu; });
      ASSERT_NE(it, rows.end()) << top->text().toStdString();
      EXPECT_EQ(it->caption, nullptr);
      EXPECT_EQ(top->isCheckable(), it->checkable);
      EXPECT_EQ(top->isChecked(), it->checked);
      continue;
    }
    int index = 0;
    for (QAction* item : top->menu()->actions()) {
      const auto it = std::find_if(rows.begin(), rows.end(), [&](const Row& r) {
        return top->text() == r.menu && r.caption &&
               (item->isSeparator() ? std::string(r.caption) == "-" : item->text() == r.caption);
      });
      ASSERT_NE(it, rows.end()) << item->text().toStdString();
      EXPECT_EQ(item->shortcut(), it->shortcut) << it->caption;
      EXPECT_EQ(item->isCheckable(), it->checkable) << it->caption;
      EXPECT_EQ(item->isChecked(), it->checked) << it->caption;
      const auto firstOfMenu = std::find_if(rows.begin(), rows.end(),
                                            [&](const Row& r) { return top->text() == r.menu; });
      EXPECT_EQ(it - firstOfMenu, index) << it->caption << " is out of order";
      ++index;
    }
  }
  EXPECT_EQ(tops, QStringList({"ファイル(&F)", "編集(&E)", "表示(&V)", "ファイル転送(&T)",
                               "電話帳(&N)", "設定(&S)", "ヘルプ(&H)"}));
}

TEST(WindowLayoutTest, ToolbarButtonsCarryTheirHints) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  struct Row {
    QToolButton* button;
    const char* hint;
    bool toggle;
    bool down;
  };
  const std::vector<Row> rows = {
      {w.PortOC, "ポートのオープン、クローズ", true, false},
      {w.KeyAccept, "キーボードからの入力許可", true, true},
      {w.SpeedButton4, "バックスクロール", true, false},
      {w.SpeedButton5, "１行入力", true, false},
      {w.SpeedButton12, "ステータスバーの表示の有無", true, true},
      {w.SpeedButton6, "クリップボードの内容を送信", false, false},
      {w.SpeedButton7, "アップロード", false, false},
      {w.SpeedButton10, "ダウンロード", false, false},
      {w.SpeedButton1, "モデムの設定", true, false},
      {w.SpeedButton2, "電話帳を開く", true, false},
  };
  int lastX = -1;
  for (const Row& r : rows) {
    EXPECT_EQ(r.button->toolTip(), r.hint);
    EXPECT_EQ(r.button->isCheckable(), r.toggle) << r.hint;
    EXPECT_EQ(r.button->isChecked(), r.down) << r.hint;
    EXPECT_GT(r.button->x(), lastX) << r.hint << " is out of order";
    lastX = r.button->x();
    if (r.button != w.SpeedButton12) {
      EXPECT_FALSE(r.button->icon().isNull()) << r.hint;
    }
  }
  EXPECT_EQ(w.SpeedButton12->text(), "Status");
  EXPECT_EQ(w.SpeedButton2->width(), 49);
  EXPECT_EQ(w.Label2->text(), "ﾌﾟﾛﾄｺﾙ :");
  EXPECT_EQ(w.Protocol->toolTip(), "ファイル転送に使用するプロトコルの指定");
  EXPECT_EQ(w.Label3->text(), "Ｋ");
  EXPECT_GT(w.Label3->x(), w.LogFileName->x());
  EXPECT_EQ(w.Label3->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(w.Label3->palette().color(QPalette::Window), QColor(Qt::blue));
  EXPECT_EQ(w.Panel1->height(), 35);
}

TEST(WindowLayoutTest, PanesStartHiddenWithTheirSizes) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  struct Row {
    QWidget* pane;
    const char* name;
    int height;
  };
  const std::vector<Row> rows = {{w.NetSettingPanel, "NetSettingPanel", 102},
                                 {w.ModemSettingPanel, "ModemSettingPanel", 26},
                                 {w.BackText, "BackText", 144},
                                 {w.Separater1, "Separater1", 6},
                                 {w.Panel2, "Panel2", 28}};
  for (const Row& r : rows) {
    EXPECT_FALSE(r.pane->isVisible()) << r.name;
    EXPECT_EQ(r.pane->maximumHeight(), r.height) << r.name;
  }
  EXPECT_TRUE(w.TextDrawBox->isVisible());
  EXPECT_TRUE(w.StatusBar1->isVisible());
  EXPECT_EQ(w.StatusText(), "KELTERM Version 2.02  開発 1996.10 - 1997.03");
  EXPECT_EQ(w.Port->minimum(), 1);
  EXPECT_EQ(w.Port->maximum(), 4);
  QStringList speeds;
  for (int i = 0; i < w.BaudRate->count(); ++i) speeds << w.BaudRate->itemText(i);
  EXPECT_EQ(speeds, QStringList({"1200", "2400", "9600", "19200", "38400", "57600"}));
  EXPECT_TRUE(w.BaudRate->isEditable());
  EXPECT_EQ(w.SpeedButton3->text(), "送信");
  EXPECT_EQ(w.LogFileName->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_EQ(w.Timer2->interval(), 150);
  EXPECT_TRUE(w.Timer2->isActive());
  EXPECT_EQ(w.KELCOMM1->EventMask(), TCommEventMask({evRlsd}));
  EXPECT_TRUE(w.KeyGard->isChecked()) << "keys are allowed from the start";
  EXPECT_TRUE(WaitUntil([&] { return w.TextDrawBox->hasFocus(); }));
}

TEST(WindowLayoutTest, StatusBarItemAndButtonStayInStep) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  struct Step {
    std::function<void()> click;
    bool shown;
  };
  const std::vector<Step> steps = {
      {[&] { w.StatusBar->trigger(); }, false},   {[&] { w.StatusBar->trigger(); }, true},
      {[&] { w.SpeedButton12->click(); }, false}, {[&] { w.StatusBar->trigger(); }, true},
      {[&] { w.SpeedButton12->click(); }, false}, {[&] { w.SpeedButton12->click(); }, true}};
  int n = 0;
  for (const Step& s : steps) {
    s.click();
    EXPECT_EQ(w.StatusBar->isChecked(), s.shown) << "step " << n;
    EXPECT_EQ(w.SpeedButton12->isChecked(), s.shown) << "step " << n;
    EXPECT_EQ(w.StatusBar1->isVisible(), s.shown) << "step " << n;
    ++n;
  }
  w.TOOLBAR->trigger();
  EXPECT_TRUE(w.TOOLBAR->isChecked()) << "the toolbar item has no action";
}

TEST(WindowLayoutTest, ProgressDialogIsLaidOutHidden) {
  TCommStatus d;
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.windowTitle(), "ファイル転送");
  EXPECT_EQ(d.geometry(), QRect(152, 305, 240, 148));
  EXPECT_TRUE(d.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(d.windowFlags() & Qt::WindowSystemMenuHint);
  struct Row {
    QLabel* label;
    const char* text;
    QPoint at;
  };
  const std::vector<Row> rows = {
      {d.Label2, "プロトコル :", {8, 8}},      {d.Protocol, "Protocol", {72, 8}},
      {d.Label1, "ファイル名 :", {8, 24}},     {d.File_Name, "File_Name", {72, 24}},
      {d.Label3, "ファイルサイズ :", {8, 48}}, {d.File_Size, "File_Size", {96, 48}},
      {d.Label6, "転送スピード :", {8, 64}},   {d.TranSpeed, "TranSpeed", {96, 64}},
      {d.Label4, "転送時間 :", {8, 80}},       {d.TranTime, "TranTime", {96, 80}},
      {d.Label5, "転送終了予測 :", {8, 96}},   {d.TranTimeLeft, "TranTimeLeft", {96, 96}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.label->text(), r.text);
    EXPECT_EQ(r.label->pos(), r.at) << r.text;
  }
  EXPECT_EQ(d.CANCEL->text(), "中止");
  EXPECT_EQ(d.CANCEL->geometry(), QRect(48, 120, 105, 25));
}

}  // namespace
