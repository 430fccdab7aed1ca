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
#include <QToolButton>
#include <utility>

#include "KTerm.h"
#include "KelApplication.h"
#include "KeyBytes.h"
#include "ShiftJis.h"

namespace {

constexpr int kColumnWidth = 8;
constexpr int kCaretWidth = 10;
constexpr int kCaretHeight = 20;

// The key as the key rule knows it.
TKeyStroke Stroke(const QKeyEvent& key) {
  TKeyStroke stroke;
  const Qt::KeyboardModifiers mods = key.modifiers();
  stroke.Ctrl = mods & Qt::ControlModifier;
  stroke.AltOrMeta = mods & (Qt::AltModifier | Qt::MetaModifier);
  stroke.Text = key.text().toStdString();
  static constexpr std::pair<int, int> kOwnRule[] = {
      {Qt::Key_Escape, kKeyEscape},   {Qt::Key_Tab, kKeyTab},
      {Qt::Key_Backtab, kKeyBacktab}, {Qt::Key_Backspace, kKeyBackspace},
      {Qt::Key_Return, kKeyReturn},   {Qt::Key_Enter, kKeyEnter},
      {Qt::Key_Delete, kKeyDelete}};
  const int k = key.key();
  stroke.Key = k > 0 && k < 0x100 ? k : kKeyOther;
  for (const auto& [qt, own] : kOwnRule)
    if (k == qt) stroke.Key = own;
  return stroke;
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
  const std::string bytes = KeyBytes(Stroke(*Key));
  if (bytes.empty()) return false;
  if (bytes.front() == kEscapeByte) {
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
  KeyQueue += ToShiftJis(input->commitString());
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
  const std::string line = ToShiftJis(Edit1->text()) + '\r';
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
  Session.Paste(ToShiftJis(ClipboardText()), false);
}

void TKelTerm::KP2Click() {
  if (!ClipboardSendAllowed(*this)) return;
  Session.Paste(ToShiftJis(ClipboardText()), true);
}

void TKelTerm::SpeedButton6Click() { KP1Click(); }

void TKelTerm::DummyPanelEnter() { TextDrawBox->setFocus(Qt::TabFocusReason); }

void TKelTerm::SendQueuedText() {
  const uint32_t modem = KELCOMM1->LineState();
  ShowFlowHold(modem);
  if (OutputHeld(modem)) return;
  try {
    Session.SendQueuedText(*KELCOMM1);
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
}
