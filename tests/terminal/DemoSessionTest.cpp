// A whole session on the demo line, driven through the window as a newcomer
// would: the first start's phone book, dialing, the host's menu, the board
// and the back-scroll pane, downloads and an upload from the window, the
// goodbye with the carrier's loss, and the day's log under the entry's name.
//
// Set KELTERM_DEMO_SCREENSHOT to a file path to keep a picture of the window
// once the menu is on the screen.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <random>

#include "Reference.h"
#include "DemoLine.h"
#include "DemoSettings.h"
#include "PaintBox.h"
#include "PaneTestSupport.h"
#include "ProgramFolder.h"
#include "ShiftJis.h"

namespace {

constexpr auto kDeadline = 20s;
const QString kMenuPrompt = "番号を選んでください>";
const QString kProtocolPrompt = "プロトコル>";
const QStringList kMenu = {
    "KelTerm デモホストへようこそ.", "1) 掲示板を読む", "2) ファイルをダウンロード",
    "3) ファイルをアップロード",     "4) エコー",       "G) さようなら"};
const QStringList kProtocolItems = {"1) XMODEM (SUM)", "2) XMODEM (CRC)", "3) XMODEM (1K)",
                                    "4) YMODEM",       "5) YMODEM-G",     "6) ZMODEM",
                                    "7) M-LINK"};

QString Trimmed(const std::string& row) {
  QString text = DecodeShiftJisRow(row);
  while (text.endsWith(QLatin1Char(' '))) text.chop(1);
  return text;
}

class DemoSessionTest : public ::testing::Test {
 protected:
  // The buffer's lines from first on, decoded; the last one is the current
  // line.
  QStringList LinesFrom(size_t first) {
    std::lock_guard lock(w->TextBuffer.Mutex());
    QStringList lines;
    for (size_t i = first; i < w->TextBuffer.Count(); ++i)
      lines << Trimmed(std::string(w->TextBuffer.Line(i)));
    return lines;
  }
  size_t CurrentLineIndex() {
    std::lock_guard lock(w->TextBuffer.Mutex());
    return w->TextBuffer.Count() - 1;
  }
  QStringList ScreenTexts() const {
    QStringList rows;
    for (const std::string& row : w->ScreenRows()) rows << Trimmed(row);
    return rows;
  }
  // Waits until a line from first on holds text and the screen shows it.
  bool WaitForLine(size_t first, const QString& text) {
    const auto has = [&](const QStringList& lines) {
      return std::any_of(lines.begin(), lines.end(),
                         [&](const QString& line) { return line.contains(text); });
    };
    const bool shown =
        WaitUntil([&] { return has(LinesFrom(first)) && has(ScreenTexts()); }, kDeadline);
    if (!shown)
      ADD_FAILURE() << "waiting for \"" << text.toStdString() << "\"; the screen shows:\n"
                    << ScreenTexts().join("\n").toStdString();
    return shown;
  }
  // Waits until the host's prompt stands alone in a line after first, at
  // the bottom of the screen.
  bool WaitForPrompt(size_t first, const QString& prompt) {
    const bool shown = WaitUntil(
        [&] {
          const QStringList screen = ScreenTexts();
          return CurrentLineIndex() > first && LinesFrom(first).last() == prompt &&
                 !screen.isEmpty() && screen.last() == prompt;
        },
        kDeadline);
    if (!shown)
      ADD_FAILURE() << "waiting for the prompt \"" << prompt.toStdString()
                    << "\"; the screen shows:\n"
                    << ScreenTexts().join("\n").toStdString();
    return shown;
  }
  // Types text at the terminal screen; the tick sends it.
  size_t Type(const QString& text) {
    const size_t mark = CurrentLineIndex();
    ActivateWindow(*w);  // the file dialogs took the activation with them
    FocusOn(w->TextDrawBox);
    TypeText(text);
    return mark;
  }
  void PressAtScreen(int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w->TextDrawBox, &press);
  }
  // Picks a protocol from the host's list after choosing 2 or 3 in the menu.
  size_t ChooseFromList(const QString& menuKey, protType protocol) {
    const size_t mark = Type(menuKey);
    EXPECT_TRUE(WaitForPrompt(mark, kProtocolPrompt));
    const QString listed = LinesFrom(mark).join("\n");
    qsizetype at = 0;
    for (const QString& item : kProtocolItems) {
      at = listed.indexOf(item, at);
      EXPECT_GE(at, 0) << item.toStdString() << " in order in\n" << listed.toStdString();
      if (at < 0) break;
    }
    w->Protocol->setCurrentIndex(protocol);
    return Type(QString::number(protocol + 1));
  }
  bool WaitTransferEnd() {
    return WaitUntil([&] { return w->KELCOMM1->TranMode.load() == 0; }, 60s);
  }

  void DialFromThePhoneBook();
  void ReadTheBoardAndScrollBack();
  void Download(protType protocol, const QString& name);
  void Upload(protType protocol, const QString& name, const std::string& bytes);
  void SayGoodbye();

  DemoLine demo{"demo-e2e", 0};
  QTemporaryDir files;  // downloads and uploads, apart from the program's folder
  WindowHarness h;
  TKelTerm* w = nullptr;
};

void DemoSessionTest::DialFromThePhoneBook() {
  ASSERT_TRUE(WriteDemoSettings("demo-e2e"));
  w = &h.Open();
  ShowDemoEntry(*w);
  ActivateWindow(*w);
  ASSERT_EQ(ItemTexts(w->NetList), QStringList({"デモホスト"}));
  ASSERT_TRUE(w->DialButton->isEnabled()) << "the entry is picked";
  const size_t mark = CurrentLineIndex();
  w->DialButton->click();
  ASSERT_TRUE(w->KELCOMM1->IsOpen());
  EXPECT_EQ(w->LogFileName->text(), "DEMO" + QDate::currentDate().toString("yyyyMMdd") + ".LOG");
  ASSERT_TRUE(WaitForLine(mark, "CONNECT 38400"));
  EXPECT_TRUE(LinesFrom(mark).contains("ATD03-1234-5678")) << "the modem echoes the dial";
  EXPECT_TRUE(WaitUntil([&] { return w->StatusText() == "接続しました."; }, kDeadline))
      << w->StatusText().toStdString();
  ASSERT_TRUE(WaitForPrompt(mark, kMenuPrompt));
  const QStringList screen = ScreenTexts();
  const qsizetype greeting = screen.indexOf(kMenu.first());
  ASSERT_GE(greeting, 0) << screen.join("\n").toStdString();
  EXPECT_EQ(screen.mid(greeting, kMenu.size()), kMenu);

  const QString picture = qEnvironmentVariable("KELTERM_DEMO_SCREENSHOT");
  if (!picture.isEmpty()) {
    EXPECT_TRUE(w->grab().save(picture)) << picture.toStdString();
  }
}

// The board is longer than the screen: a page up shows what scrolled away.
void DemoSessionTest::ReadTheBoardAndScrollBack() {
  const size_t mark = Type("1");
  ASSERT_TRUE(WaitUntil([&] { return CurrentLineIndex() > mark + 100; }, kDeadline))
      << "the board's messages";
  ASSERT_TRUE(WaitForPrompt(mark + 100, kMenuPrompt));
  const QStringList board = LinesFrom(mark);
  EXPECT_TRUE(std::any_of(board.begin(), board.end(), [](const QString& line) {
    return line.contains("[2J");
  })) << "an escape sequence shows as text";

  const int last = static_cast<int>(CurrentLineIndex());
  // The scroll range follows the buffer at the window's tick.
  ASSERT_TRUE(WaitUntil([&] { return w->BackTextScrollBar->maximum() == last; }));
  const int screenTop = last + 1 - w->PaintBox1->height() / TKelTerm::kScreenPitch;
  PressAtScreen(Qt::Key_PageUp);  // opens the pane at the last line
  ASSERT_TRUE(WaitUntil([&] { return w->PaintBox2->isVisible(); }));
  w->BackTextDraw();
  EXPECT_EQ(w->BackBottomLine, last);
  // Pages back until the pane shows lines that have left the screen.
  const int page = w->PaintBox2->height() / TKelTerm::kBackRowHeight + 1;
  for (int press = 1; w->BackBottomLine >= screenTop; ++press) {
    ASSERT_LE(press, 10) << "the pane never left the screen's lines";
    PressAtScreen(Qt::Key_PageUp);
    w->BackTextDraw();
    EXPECT_EQ(w->BackBottomLine, last - press * page);
  }
  EXPECT_GT(w->BackTopLine, static_cast<int>(mark)) << "still the board's lines";
  const QImage pane = w->PaintBox2->grab().toImage();
  int ink = 0;
  for (int y = 0; y < pane.height(); ++y)
    for (int x = 0; x < pane.width(); ++x) ink += qGray(pane.pixel(x, y)) < 128;
  EXPECT_GT(ink, 500) << "the pane shows text";
  PressAtScreen(Qt::Key_Escape);
  EXPECT_FALSE(w->BackScroll->isChecked());
  EXPECT_TRUE(w->KeyQueue.empty()) << "the pane's keys never reach the host";
}

void DemoSessionTest::Download(protType protocol, const QString& name) {
  const size_t mark = ChooseFromList("2", protocol);
  ASSERT_TRUE(WaitForLine(mark, "ダウンロードを開始します. ダウンロード(&D) で受信してください."));
  const QString path = files.filePath(name);
  FileDialogAnswer answer(w->SaveDialog1, path);
  w->DOWNLOADClick();
  EXPECT_EQ(answer.title, "ダウンロードするファイルの指定");
  ASSERT_TRUE(WaitTransferEnd());
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 1) << ProtocolNames[protocol];
  const std::string got = ReadFileBytes(path);
  EXPECT_EQ(got.size(), DemoSampleFile().size()) << ProtocolNames[protocol];
  EXPECT_TRUE(got == DemoSampleFile()) << ProtocolNames[protocol];
  EXPECT_EQ(DecodeShiftJisRow(w->KELCOMM1->Status.RecvName.get()), "sample.bin");
  ASSERT_TRUE(WaitForLine(mark, "転送が終わりました."));
  ASSERT_TRUE(WaitForPrompt(mark, kMenuPrompt));
}

void DemoSessionTest::Upload(protType protocol, const QString& name, const std::string& bytes) {
  const QString path = files.filePath(name);
  WriteFileBytes(path, bytes);
  const size_t mark = ChooseFromList("3", protocol);
  ASSERT_TRUE(WaitForLine(mark, "アップロードを開始します. アップロード(&U) で送信してください."));
  FileDialogAnswer answer(w->OpenDialog1, path);
  w->UpLoadClick();
  EXPECT_EQ(answer.title, "アップロードするファイルの指定");
  ASSERT_TRUE(WaitTransferEnd());
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 1) << ProtocolNames[protocol];
  const QString received = QStringLiteral("受信しました: %1 %2 バイト CRC-32 %3")
                               .arg(name)
                               .arg(bytes.size())
                               .arg(Crc32Of(bytes), 8, 16, QLatin1Char('0'));
  ASSERT_TRUE(WaitForLine(mark, received));
  ASSERT_TRUE(WaitForPrompt(mark, kMenuPrompt));
}

void DemoSessionTest::SayGoodbye() {
  const int before = h.statusTexts.size();
  const size_t mark = Type("G");
  ASSERT_TRUE(WaitUntil([&] { return !w->KELCOMM1->IsOpen() && w->isEnabled(); }, kDeadline));
  EXPECT_TRUE(WaitForLine(mark, "ご利用ありがとうございました. さようなら."));
  EXPECT_EQ(h.statusTexts.mid(before),
            QStringList({"回線が切れました.", "ポートをクローズしました."}));
  EXPECT_FALSE(w->PortOC->isChecked());
}

TEST_F(DemoSessionTest, NewcomerDialsReadsTransfersAndHangsUp) {
  ASSERT_TRUE(files.isValid());
  ASSERT_NO_FATAL_FAILURE(DialFromThePhoneBook());
  ASSERT_NO_FATAL_FAILURE(ReadTheBoardAndScrollBack());
  ASSERT_NO_FATAL_FAILURE(Download(pr_ZMODEM, "zmodem.bin"));
  ASSERT_NO_FATAL_FAILURE(Download(pr_YMODEM, "ymodem.bin"));
  std::mt19937 random(2024);
  std::string upload(23456, '\0');
  for (char& b : upload) b = static_cast<char>(random());
  ASSERT_NO_FATAL_FAILURE(Upload(pr_YMODEM, "送信データ.bin", upload));
  ASSERT_NO_FATAL_FAILURE(SayGoodbye());

  const QString logName = "DEMO" + QDate::currentDate().toString("yyyyMMdd") + ".LOG";
  const std::string log = ReadFileBytes(ProgramFilePath(logName));
  for (const QString& line :
       {QString("CONNECT 38400"), kMenu.first(), QString("転送が終わりました."),
        QString("ご利用ありがとうございました. さようなら.")})
    EXPECT_NE(log.find(ToShiftJis(line) + "\r\n"), std::string::npos)
        << line.toStdString() << " in the log";
  EXPECT_TRUE(h.errorBoxes.isEmpty()) << h.errorBoxes.join("|").toStdString();
}

}  // namespace
