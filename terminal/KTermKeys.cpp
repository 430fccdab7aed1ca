// Keyboard input, the one-line box and the clipboard send.
//
// Typed and pasted text does not go to the port at once: it waits in
// KeyQueue and PasteQueue, and the tick sends one chunk at a time while no
// transfer runs. Only the one-line box writes its line straight away. All of
// it runs on the main thread, so the queues need no lock.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStringEncoder>
#include <QToolButton>
#include <algorithm>
#include <optional>

#include "KTerm.h"
#include "KelApplication.h"
#include "Quoting.h"
#include "SendQueue.h"
#include "ShiftJis.h"

namespace {

constexpr char kEscape = 0x1B;
constexpr int kColumnWidth = 8;
constexpr int kCaretWidth = 10;
constexpr int kCaretHeight = 20;

// Text for the line in Shift-JIS. A character that Shift-JIS lacks becomes
// "?" instead of the codec's filler bytes, which a host would show as some
// other, real character.
std::string EncodeForLine(const QString& text) {
  QStringEncoder encode(ShiftJisCodecName());
  const QByteArray whole = encode(text);
  if (!encode.hasError()) return std::string(whole.constData(), static_cast<size_t>(whole.size()));
  std::string bytes;
  for (qsizetype i = 0; i < text.size();) {
    const bool pair =
        text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
    const qsizetype length = pair ? 2 : 1;
    QStringEncoder one(ShiftJisCodecName());
    const QByteArray encoded = one(QStringView(text).mid(i, length));
    if (one.hasError())
      bytes += '?';
    else
      bytes.append(encoded.constData(), static_cast<size_t>(encoded.size()));
    i += length;
  }
  return bytes;
}

// The control code a key gives with Ctrl held, as terminals have it.
std::optional<char> ControlCode(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<char>(key - Qt::Key_A + 1);
  switch (key) {
    case Qt::Key_At:
    case Qt::Key_2:
      return '\0';
    case Qt::Key_BracketLeft:
      return kEscape;
    case Qt::Key_Backslash:
    case Qt::Key_yen:
      return '\x1C';
    case Qt::Key_BracketRight:
      return '\x1D';
    case Qt::Key_AsciiCircum:
    case Qt::Key_6:
      return '\x1E';
    case Qt::Key_Underscore:
    case Qt::Key_Minus:
      return '\x1F';
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return '\n';
    case Qt::Key_Backspace:
      return '\x7F';
    default:
      return std::nullopt;
  }
}

// The bytes a key types, in Shift-JIS; empty for a key that types nothing
// (arrows, function keys, Delete, Alt and Meta combinations).
std::string KeyCharacter(const QKeyEvent& key) {
  const Qt::KeyboardModifiers mods = key.modifiers();
  if (mods & (Qt::AltModifier | Qt::MetaModifier)) return std::string();
  if (mods & Qt::ControlModifier) {
    const std::optional<char> code = ControlCode(key.key());
    return code ? std::string(1, *code) : std::string();
  }
  switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return "\r";
    case Qt::Key_Backspace:
      return "\b";
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return "\t";
    case Qt::Key_Escape:
      return std::string(1, kEscape);
    case Qt::Key_Delete:
      return std::string();
    default:
      break;
  }
  const QString text = key.text();
  for (const QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return std::string();
  return EncodeForLine(text);
}

// A key bound to a menu item is that item's command. The shortcut normally
// takes it before it arrives here; one that comes through anyway (a disabled
// item, a sent event) must still not reach the host as a character.
bool IsMenuShortcut(const TKelTerm& form, const QKeyEvent& key) {
  const QKeySequence pressed(
      QKeyCombination(key.modifiers() & ~Qt::KeypadModifier, Qt::Key(key.key())));
  const auto actions = form.findChildren<QAction*>();
  for (const QAction* action : actions)
    if (!action->shortcut().isEmpty() && action->shortcut() == pressed) return true;
  return false;
}

bool ScreenActive(const TKelTerm& form) { return QApplication::focusWidget() == form.TextDrawBox; }

bool ClipboardSendAllowed(const TKelTerm& form) {
  return form.KELCOMM1->IsOpen() && ScreenActive(form) && form.KELCOMM1->TranMode == 0 &&
         form.KeyGard->isChecked();
}

QString ClipboardText() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard ? clipboard->text() : QString();
}

}  // namespace

bool TKelTerm::KeyPress(QKeyEvent* Key) {
  if (IsMenuShortcut(*this, *Key)) return false;
  const std::string bytes = KeyCharacter(*Key);
  if (bytes.empty()) return false;
  if (bytes.front() == kEscape) {
    // Escape backs out of the panes; it never goes to the host.
    if (ScreenActive(*this) && !BackText->isHidden()) BackScrollClick();
    if (QApplication::focusWidget() == Edit1) OneLineEditClick();
    return false;
  }
  if (!KeyAccept->isChecked() || !ScreenActive(*this)) return false;
  KeyQueue += bytes;
  return true;
}

bool TKelTerm::ScreenInputMethod(QEvent* Event) {
  if (Event->type() == QEvent::InputMethodQuery) {
    // The screen is no text widget, but an input method must still serve it.
    auto* query = static_cast<QInputMethodQueryEvent*>(Event);
    if (query->queries() & Qt::ImEnabled) query->setValue(Qt::ImEnabled, true);
    if (query->queries() & Qt::ImHints) query->setValue(Qt::ImHints, int(Qt::ImhNone));
    if (query->queries() & Qt::ImCursorRectangle)
      query->setValue(Qt::ImCursorRectangle,
                      QRect(CaretColumn() * kColumnWidth, CaretTop, kCaretWidth, kCaretHeight));
    query->accept();
    return true;
  }
  if (Event->type() != QEvent::InputMethod) return false;
  auto* input = static_cast<QInputMethodEvent*>(Event);
  if (input->commitString().isEmpty() || !KeyAccept->isChecked() || !ScreenActive(*this))
    return false;
  KeyQueue += EncodeForLine(input->commitString());
  input->accept();
  return true;
}

void TKelTerm::KeyGardClick() {
  KeyGard->setChecked(!KeyGard->isChecked());
  KeyAccept->setChecked(KeyGard->isChecked());
  if (!KeyGard->isChecked()) {
    // The one-line box is typing too: it closes with the gate.
    OneLineEdit->setChecked(true);
    OneLineEditClick();
  }
}

void TKelTerm::KeyAcceptClick() { KeyGardClick(); }

void TKelTerm::OneLineEditClick() {
  OneLineEdit->setChecked(!OneLineEdit->isChecked());
  const bool on = OneLineEdit->isChecked();
  SpeedButton5->setChecked(on);
  Panel2->setVisible(on);
  if (on) {
    Edit1->setFocus();
    // A box the user cannot type into would be no use: open the gate.
    KeyGard->setChecked(false);
    KeyGardClick();
  } else {
    TextDrawBox->setFocus();
  }
}

void TKelTerm::SpeedButton5Click() { OneLineEditClick(); }

bool TKelTerm::Edit1KeyPress(QKeyEvent* Key) {
  if (Key->key() != Qt::Key_Return && Key->key() != Qt::Key_Enter) return false;
  SendButton();
  return true;
}

// The box's line goes out at once, whatever runs on the line. The box is
// emptied only when the port has taken the whole line, so that a failed send
// leaves the text for another try.
void TKelTerm::SendButton() {
  const std::string line = EncodeForLine(Edit1->text()) + '\r';
  int taken = 0;
  try {
    taken = KELCOMM1->WriteString(line);
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
    return;
  }
  if (taken == static_cast<int>(line.size())) Edit1->clear();
}

void TKelTerm::KP1Click() {
  if (!ClipboardSendAllowed(*this)) return;
  PasteQueue += EncodeForLine(ClipboardText());
}

void TKelTerm::KP2Click() {
  if (!ClipboardSendAllowed(*this)) return;
  PasteQueue += QuoteText(EncodeForLine(ClipboardText()));
}

void TKelTerm::SpeedButton6Click() { KP1Click(); }

void TKelTerm::DummyPanelEnter() { TextDrawBox->setFocus(Qt::TabFocusReason); }

// One chunk per tick. Bytes the port did not take stay at the queue's front.
// A port that fails empties both queues, so that the error is shown once and
// not again on every tick.
void TKelTerm::SendQueuedText() {
  if (!KELCOMM1->IsOpen() || KELCOMM1->TranMode != 0) return;
  std::string* queue = NextSendQueue(PasteQueue, KeyQueue);
  if (!queue) return;
  const std::string chunk(NextSendChunk(*queue));
  int taken = 0;
  try {
    taken = KELCOMM1->WriteString(chunk);
  } catch (const std::exception& e) {
    PasteQueue.clear();
    KeyQueue.clear();
    ShowErrorBox(e.what());
    return;
  }
  ChunkSent(*queue, chunk.size(), static_cast<size_t>(std::max(taken, 0)));
}
