// Typing, the clipboard send and the one-line box, seen from the far end of
// a virtual line. The window's timer is stopped: each test ticks by hand, so
// "one chunk per tick" is exact.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "WindowTestSupport.h"

namespace {

const QString kNotStarted = "通信が開始されていない。";
const QString kTooLong = "送信データ長が長すぎる。";
const std::string kNihon = "\x93\xfa\x96\x7b";  // 日本 in Shift-JIS

// Sends a key press to the widget that has the focus, as the keyboard does;
// answers whether some handler took it.
bool Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
  QWidget* focus = QApplication::focusWidget();
  if (!focus) return false;
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(focus, &press);
  return press.isAccepted();
}

void TypeLetter(char c) { Press(Qt::Key_A + (c - 'a'), Qt::NoModifier, QString(QChar(c))); }

void CommitInput(const QString& text) {
  QInputMethodEvent commit;
  commit.setCommitString(text);
  QApplication::sendEvent(QApplication::focusWidget(), &commit);
}

// A text of the given length whose bytes tell their position.
std::string Numbered(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
  return text;
}

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.WriteSettings(SettingsWithCom1(line.DevicePath()));
    w = &h.Open();
    w->Timer2->stop();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == w->TextDrawBox; }));
  }
  void OpenPort() {
    w->PortOC->click();
    ASSERT_TRUE(w->KELCOMM1->IsOpen());
  }
  // One tick's sending; the virtual line delivers what the port has taken
  // at once, so the far end holds exactly what this tick sent.
  std::string Tick() {
    w->SendQueuedText();
    return line.far().Read();
  }
  // Ticks until a tick sends nothing; the chunks of each tick in order.
  std::vector<std::string> TickUntilQuiet() {
    std::vector<std::string> chunks;
    for (std::string sent = Tick(); !sent.empty(); sent = Tick()) chunks.push_back(sent);
    return chunks;
  }
  void SetClipboard(const std::string& utf8) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(utf8));
  }
  bool BoxOpen() const { return !w->Panel2->isHidden(); }
  bool GateOn() const { return w->KeyGard->isChecked(); }
  void ExpectModesShown(const char* step) {
    EXPECT_EQ(w->KeyAccept->isChecked(), w->KeyGard->isChecked()) << step;
    EXPECT_EQ(w->SpeedButton5->isChecked(), w->OneLineEdit->isChecked()) << step;
    EXPECT_EQ(BoxOpen(), w->OneLineEdit->isChecked()) << step;
  }

  TestLine line;
  WindowHarness h;
  TKelTerm* w = nullptr;
};

TEST_F(KeyboardTest, TypedKeysLeaveOnConsecutiveTicksWithoutEcho) {
  OpenPort();
  auto currentLine = [&] {
    std::lock_guard lock(w->TextBuffer.Mutex());
    return std::string(w->TextBuffer.CurrentLine());
  };
  const std::string screenBefore = currentLine();
  for (auto [key, text] :
       {std::pair{Qt::Key_D, "d"}, {Qt::Key_I, "i"}, {Qt::Key_R, "r"}, {Qt::Key_Return, "\r"}}) {
    EXPECT_TRUE(Press(key, Qt::NoModifier, text)) << text;
    EXPECT_EQ(line.far().Read(), "") << "nothing leaves before the tick";
    EXPECT_EQ(Tick(), text);
  }
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(currentLine(), screenBefore) << "no local echo";
}

TEST_F(KeyboardTest, KeysTypeTheBytesATerminalKeyboardGives) {
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
  const struct {
    const char* name;
    int key;
    Qt::KeyboardModifiers mods;
    QString text;
    std::string queued;
  } cases[] = {
      {"letter", Qt::Key_A, Qt::NoModifier, "a", "a"},
      {"Enter", Qt::Key_Return, Qt::NoModifier, "\r", "\r"},
      {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, "\r", "\r"},
      {"Backspace", Qt::Key_Backspace, Qt::NoModifier, "\b", "\b"},
      {"Ctrl+A", Qt::Key_A, ctrl, "\x01", "\x01"},
      {"Ctrl+Z without text", Qt::Key_Z, ctrl, "", "\x1a"},
      {"Ctrl+@", Qt::Key_At, ctrl, "", std::string(1, '\0')},
      {"Ctrl+Enter", Qt::Key_Return, ctrl, "", "\n"},
      {"Ctrl+Backspace", Qt::Key_Backspace, ctrl, "", "\x7f"},
      {"Ctrl+Shift+V is no shortcut", Qt::Key_V, ctrl | Qt::ShiftModifier, "\x16", "\x16"},
      {"half-width kana", Qt::Key_unknown, Qt::NoModifier, "ｱ", "\xb1"},
      {"full-width", Qt::Key_unknown, Qt::NoModifier, "あ", "\x82\xa0"},
      {"character Shift-JIS lacks", Qt::Key_unknown, Qt::NoModifier, "😀", "?"},
      {"Escape", Qt::Key_Escape, Qt::NoModifier, "\x1b", ""},
      {"Ctrl+[ is Escape", Qt::Key_BracketLeft, ctrl, "\x1b", ""},
      {"Delete", Qt::Key_Delete, Qt::NoModifier, "\x7f", ""},
      {"arrow", Qt::Key_Left, Qt::NoModifier, "", ""},
      {"Alt combination", Qt::Key_X, Qt::AltModifier, "x", ""},
  };
  for (const auto& c : cases) {
    w->KeyQueue.clear();
    const bool taken = Press(c.key, c.mods, c.text);
    EXPECT_EQ(w->KeyQueue, c.queued) << c.name;
    EXPECT_EQ(taken, !c.queued.empty()) << c.name << ": a queued key is consumed";
    EXPECT_EQ(QApplication::focusWidget(), w->TextDrawBox) << c.name;
  }
}

TEST_F(KeyboardTest, PasteLeavesIn512ByteChunksUpTo32512Bytes) {
  OpenPort();
  for (auto [size, total, ticks] : {std::tuple{1300, 1300, 3}, {40000, 32512, 64}}) {
    SCOPED_TRACE(size);
    const std::string text = Numbered(size);
    SetClipboard(text);
    w->SpeedButton6->click();
    std::string all;
    const auto chunks = TickUntilQuiet();
    ASSERT_EQ(chunks.size(), static_cast<size_t>(ticks));
    for (size_t i = 0; i < chunks.size(); ++i) {
      if (i + 1 < chunks.size()) {
        EXPECT_EQ(chunks[i].size(), 512u) << "tick " << i;
      }
      all += chunks[i];
    }
    EXPECT_EQ(all, text.substr(0, total));
  }
}

TEST_F(KeyboardTest, PasteOvertakesWaitingKeys) {
  OpenPort();
  TypeLetter('l');
  TypeLetter('s');
  SetClipboard("pasted\n");
  w->KP1->trigger();
  EXPECT_EQ(TickUntilQuiet(), (std::vector<std::string>{"pasted\n", "ls"}));
}

// The quoting rule itself is QuoteText's; here the clipboard's way to it.
TEST_F(KeyboardTest, ClipboardTextIsEncodedAndQuotedAsItStands) {
  OpenPort();
  const struct {
    const char* name;
    QAction* item;
    std::string clipboard;
    std::string sent;
  } cases[] = {
      {"plain, line feeds kept", w->KP1, "日本\nA\n", kNihon + "\nA\n"},
      {"quoted, final line feed unmarked", w->KP2, "日本\nx\n", ">" + kNihon + "\n>x\n"},
      {"plain empty clipboard", w->KP1, "", ""},
  };
  for (const auto& c : cases) {
    SetClipboard(c.clipboard);
    c.item->trigger();
    std::string all;
    for (const std::string& chunk : TickUntilQuiet()) all += chunk;
    EXPECT_EQ(all, c.sent) << c.name;
  }
}

TEST_F(KeyboardTest, NothingLeavesWhileClosedOrDuringATransferAndOpeningDropsTheKeys) {
  TypeLetter('x');
  SetClipboard("clip");
  w->KP1->trigger();
  EXPECT_TRUE(w->PasteQueue.empty()) << "no clipboard send on a closed port";
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(w->KeyQueue, "x") << "the closed port keeps the typed keys";
  OpenPort();
  EXPECT_TRUE(w->KeyQueue.empty()) << "opening empties the queues";
  TypeLetter('k');
  w->KELCOMM1->TranMode = 1;
  EXPECT_EQ(Tick(), "");
  TypeLetter('m');
  EXPECT_EQ(Tick(), "");
  w->KELCOMM1->TranMode = 0;
  EXPECT_EQ(Tick(), "km") << "the queue drains after the transfer";
}

// Each row breaks one of the clipboard send's four conditions (the control
// row breaks none), for the two menu items, the button and Ctrl+V.
TEST_F(KeyboardTest, ClipboardSendNeedsOpenPortScreenIdleLineAndGate) {
  const struct {
    const char* name;
    std::function<void()> breakIt;
    std::function<void()> repair;
    bool sends;
  } cases[] = {
      {"all conditions hold", [] {}, [] {}, true},
      {"port closed", [&] { w->PortOC->click(); }, [&] { OpenPort(); }, false},
      {"transfer running", [&] { w->KELCOMM1->TranMode = 2; }, [&] { w->KELCOMM1->TranMode = 0; },
       false},
      {"key gate off", [&] { w->KeyGard->trigger(); }, [&] { w->KeyGard->trigger(); }, false},
      {"one-line box focused", [&] { w->OneLineEdit->trigger(); },
       [&] { w->OneLineEdit->trigger(); }, false},
  };
  OpenPort();
  SetClipboard("clip");
  for (const auto& c : cases) {
    c.breakIt();
    for (const auto& send : std::vector<std::function<void()>>{
             [&] { w->KP1->trigger(); }, [&] { w->KP2->trigger(); },
             [&] { w->SpeedButton6->click(); },
             [&] { Press(Qt::Key_V, Qt::ControlModifier, "\x16"); }}) {
      w->PasteQueue.clear();
      send();
      EXPECT_EQ(!w->PasteQueue.empty(), c.sends) << c.name;
      EXPECT_TRUE(w->KeyQueue.empty()) << c.name;
    }
    c.repair();
    ASSERT_EQ(QApplication::focusWidget(), w->TextDrawBox) << c.name;
    ASSERT_TRUE(w->KELCOMM1->IsOpen()) << c.name;
  }
}

TEST_F(KeyboardTest, GateOffMakesTypingWithoutEffect) {
  OpenPort();
  w->KeyAccept->click();
  EXPECT_FALSE(Press(Qt::Key_A, Qt::NoModifier, "a"));
  CommitInput("日本");
  EXPECT_TRUE(w->KeyQueue.empty());
  w->KeyGard->trigger();
  TypeLetter('a');
  EXPECT_EQ(Tick(), "a");
}

TEST_F(KeyboardTest, GateAndOneLineBoxStayInStep) {
  const struct {
    const char* step;
    std::function<void()> act;
    bool gate;
    bool box;
    QWidget* focus;
  } steps[] = {
      {"gate off by menu", [&] { w->KeyGard->trigger(); }, false, false, w->TextDrawBox},
      {"box opened by menu forces the gate on", [&] { w->OneLineEdit->trigger(); }, true, true,
       w->Edit1},
      {"gate off by button closes the box", [&] { w->KeyAccept->click(); }, false, false,
       w->TextDrawBox},
      {"gate on by button", [&] { w->KeyAccept->click(); }, true, false, w->TextDrawBox},
      {"box opened by button", [&] { w->SpeedButton5->click(); }, true, true, w->Edit1},
      {"box closed by button, gate stays on", [&] { w->SpeedButton5->click(); }, true, false,
       w->TextDrawBox},
      {"box opened by Alt+C's item", [&] { w->OneLineEdit->trigger(); }, true, true, w->Edit1},
      {"gate off by menu closes the box", [&] { w->KeyGard->trigger(); }, false, false,
       w->TextDrawBox},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_EQ(GateOn(), s.gate) << s.step;
    EXPECT_EQ(w->OneLineEdit->isChecked(), s.box) << s.step;
    ExpectModesShown(s.step);
    EXPECT_EQ(QApplication::focusWidget(), s.focus) << s.step;
  }
}

TEST_F(KeyboardTest, EscapeClosesTheBoxAndIsNeverSent) {
  OpenPort();
  w->OneLineEdit->trigger();
  ASSERT_EQ(QApplication::focusWidget(), w->Edit1);
  Press(Qt::Key_X, Qt::NoModifier, "x");
  EXPECT_EQ(w->Edit1->text(), "x") << "keys in the box edit the box";
  Press(Qt::Key_Escape, Qt::NoModifier, "\x1b");
  EXPECT_FALSE(BoxOpen());
  EXPECT_FALSE(w->OneLineEdit->isChecked());
  ExpectModesShown("after Escape");
  EXPECT_EQ(QApplication::focusWidget(), w->TextDrawBox);
  EXPECT_TRUE(GateOn());
  Press(Qt::Key_Escape, Qt::NoModifier, "\x1b");
  EXPECT_TRUE(w->KeyQueue.empty());
  EXPECT_EQ(Tick(), "");
}

TEST_F(KeyboardTest, EnterInTheBoxSendsTheLineAtOnceEvenDuringATransfer) {
  OpenPort();
  w->KELCOMM1->TranMode = 1;
  w->OneLineEdit->trigger();
  w->Edit1->setText("ls -l 日本");
  EXPECT_TRUE(Press(Qt::Key_Return, Qt::NoModifier, "\r"));
  EXPECT_EQ(line.far().ReadFor(11, 2s), "ls -l " + kNihon + "\r");
  EXPECT_TRUE(w->Edit1->text().isEmpty());
  EXPECT_TRUE(w->KeyQueue.empty());
  EXPECT_TRUE(BoxOpen());
  EXPECT_TRUE(h.errorBoxes.isEmpty());
  w->KELCOMM1->TranMode = 0;
}

TEST_F(KeyboardTest, FailedBoxSendShowsTheErrorAndKeepsTheText) {
  const struct {
    const char* name;
    bool open;
    QString text;
    QString error;
  } cases[] = {
      {"closed port", false, "hello", kNotStarted},
      {"longer than the output queue", true, QString(5000, QChar('y')), kTooLong},
  };
  w->OneLineEdit->trigger();
  for (const auto& c : cases) {
    if (c.open != w->KELCOMM1->IsOpen()) OpenPort();
    w->Edit1->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), w->Edit1);
    h.errorBoxes.clear();
    w->Edit1->setText(c.text);
    Press(Qt::Key_Return, Qt::NoModifier, "\r");
    w->SpeedButton3->click();
    EXPECT_EQ(h.errorBoxes, QStringList({c.error, c.error})) << c.name;
    EXPECT_EQ(w->Edit1->text(), c.text) << c.name;
    EXPECT_EQ(line.far().Read(), "") << c.name;
  }
}

TEST_F(KeyboardTest, InputMethodTextIsQueuedAsShiftJis) {
  OpenPort();
  CommitInput("日本");
  EXPECT_EQ(w->KeyQueue, kNihon);
  CommitInput("ｶﾅ?");
  EXPECT_EQ(Tick(), kNihon + "\xb6\xc5?");
}

TEST_F(KeyboardTest, FailingPortEmptiesTheQueuesAndReportsOnce) {
  OpenPort();
  w->PasteQueue = "paste";
  w->KeyQueue = "keys";
  w->KELCOMM1->SetOutQueueSize(2);  // every chunk is now too long
  w->SendQueuedText();
  w->SendQueuedText();
  EXPECT_EQ(h.errorBoxes, QStringList({kTooLong}));
  EXPECT_TRUE(w->PasteQueue.empty());
  EXPECT_TRUE(w->KeyQueue.empty());
  EXPECT_EQ(line.far().Read(), "");
}

}  // namespace
