// The window's fixed width, and the settings file as the window reads it at
// start and writes it at exit.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStyleOptionComboBox>

#include "KCommSDg.h"
#include "TransferView.h"
#include "WindowTestSupport.h"

namespace {

TEST(WindowLayoutTest, WidthIsFixedAndHeightFollows) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  EXPECT_EQ(w.size(), QSize(655, 529));
  for (QSize asked : {QSize(900, 700), QSize(300, 400)}) {
    w.resize(asked);
    ASSERT_TRUE(WaitUntil([&] { return w.height() == asked.height(); }));
    EXPECT_EQ(w.width(), 655);
  }
}

// Qt's own dialogs speak the window's language whatever the locale.
TEST(WindowLayoutTest, QtsOwnDialogsAreJapanese) {
  QMessageBox question;
  question.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  QFileDialog files;
  files.setOption(QFileDialog::DontUseNativeDialog);
  files.setAcceptMode(QFileDialog::AcceptSave);
  const auto* buttons = files.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  const QStringList shown = {question.button(QMessageBox::Yes)->text(),
                             question.button(QMessageBox::No)->text(),
                             buttons->button(QDialogButtonBox::Save)->text(),
                             buttons->button(QDialogButtonBox::Cancel)->text()};
  EXPECT_EQ(shown.join('|'), "はい(&Y)|いいえ(&N)|保存(&S)|キャンセル");
}

// At the window's sizes its own texts show whole; a user's text of any
// length shows with "…" in the middle and whole in its tool tip.
TEST(WindowLayoutTest, OwnTextsFitAndLongUserTextsAreElided) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  w.NetSetting->trigger();
  w.AddNetClick();
  w.PortDevice->setEditText("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  w.SetLogFileName("VERYLONGHOSTNAME_%y%M%D_%H%I.LOG");
  TCommStatus dialog;
  TTransferSnapshot s;
  s.FilePath = "/home/ユーザー/ダウンロード/2026年の報告書/最終版.txt";
  QStyleOptionComboBox list;
  list.initFrom(w.Protocol);
  const QRect field = w.Protocol->style()->subControlRect(QStyle::CC_ComboBox, &list,
                                                          QStyle::SC_ComboBoxEditField, w.Protocol);
  for (int p = 0; p < kProtocolCount; ++p) {
    EXPECT_LE(w.Protocol->fontMetrics().horizontalAdvance(w.Protocol->itemText(p)) + 2,
              field.width());
    for (uint8_t mode : {1, 2}) {
      s.TranMode = mode, s.Protocol = static_cast<protType>(p);
      dialog.ShowTexts(TransferTexts(s, 0));
      EXPECT_TRUE(dialog.rect().contains(dialog.Protocol->geometry())) << p;
    }
  }
  s.TranSize = 13312, s.FileSize = 12345;  // sent again after a reposition
  EXPECT_EQ(TransferTexts(s, 0).File_Size, "12345 / 12345");
  EXPECT_GE(w.NetList->visualItemRect(w.NetList->item(0)).height(),
            w.NetList->fontMetrics().height());
  EXPECT_LT(w.LogFileName->geometry().right(), w.Label3->x());
  const auto* device = static_cast<TElidedLineEdit*>(w.PortDevice->lineEdit());
  const QString rows[][3] = {
      {w.LogFileName->text(), w.LogFileName->toolTip(), QString::fromStdString(w.LogFileNameBytes)},
      {dialog.File_Name->text(), dialog.File_Name->toolTip(), TransferTexts(s, 0).File_Name},
      {device->ShownText(), device->toolTip(), device->text()}};
  for (const auto& [shown, tip, whole] : rows) {
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_EQ(tip, whole);
  }
}

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
  EXPECT_TRUE(h.errorBoxes[0].startsWith(QStringLiteral("設定ファイルを読み込めません.")));
  EXPECT_TRUE(h.errorBoxes[0].contains(QStringLiteral("Kelterm.ini")));
  EXPECT_EQ(w.DialCommand->text(), "ATD");
  h.CloseWindow();
  EXPECT_EQ(h.errorBoxes.size(), 1) << "nothing was written, so nothing failed";
  EXPECT_TRUE(QFileInfo(h.SettingsPath()).isDir());
}

}  // namespace
