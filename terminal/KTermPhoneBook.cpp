// The phone book: named hosts with their numbers and log-name templates, kept
// in the settings lines from line 10 on, ten lines an entry, and dialing one
// of them. Every edit goes into SettingList at once; the file is written at
// exit.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <algorithm>
#include <array>

#include "KTerm.h"
#include "KelApplication.h"
#include "ShiftJis.h"

namespace {

// Lines of entry 0; entry k is kEntryLines * k further on.
constexpr size_t kNameLine = TSettingList::kModemLines;
constexpr size_t kTelNoLine = kNameLine + 1;
constexpr size_t kLogTemplateLine = kNameLine + 2;
constexpr size_t kBlankLinesOfEntry = TSettingList::kEntryLines - 3;

size_t EntryLine(size_t first, int entry) {
  return first + TSettingList::kEntryLines * static_cast<size_t>(entry);
}

// The bytes that stand for a box's text: the stored bytes while they still
// read as that text, so that picking an entry never rewrites a line (bytes
// outside Shift-JIS, or one of the characters the code page has twice, stay
// as the file had them); the text in Shift-JIS once the user has changed it.
std::string SettingBytes(const QString& text, const std::string& stored) {
  if (FromShiftJis(stored) == text) return stored;
  return ToShiftJis(text);
}

// The controls that act on the picked entry: enabled only while one is.
std::array<QWidget*, 5> EntryControls(const TKelTerm& form) {
  return {form.DeleteNet, form.DialButton, form.NetName, form.NetTelNo, form.NetLogFileName};
}

}  // namespace

TKelTerm::TPanesQuiet::~TPanesQuiet() {
  delete form->backScrollEvents_;  // a deleted filter is taken off its widgets
  for (QWidget* pane : {form->NetSettingPanel, form->ModemSettingPanel, form->BackText})
    for (QObject* control : pane->findChildren<QObject*>()) control->blockSignals(true);
}

int TKelTerm::PickedEntry() const {
  const int row = NetList->currentRow();
  return row >= 0 && row < SettingList.EntryCount() ? row : -1;
}

void TKelTerm::SetSettingLine(size_t index, const QString& text) {
  if (index >= SettingList.size()) return;
  std::string& line = SettingList.Lines[index];
  line = SettingBytes(text, line);
}

void TKelTerm::NetSettingClick() {
  NetSetting->setChecked(!NetSetting->isChecked());
  NetSettingPanel->setVisible(NetSetting->isChecked());
  SpeedButton2->setChecked(NetSetting->isChecked());
  NetListRefresh();
  FocusScreen();
}

void TKelTerm::SpeedButton2Click() { NetSettingClick(); }

void TKelTerm::ClosePhoneBook() {
  NetSetting->setChecked(false);
  NetSettingPanel->hide();
  SpeedButton2->setChecked(false);
}

void TKelTerm::BitBtn4Click() {
  ClosePhoneBook();
  FocusScreen();
}

// A disabled control hands the focus on to the next one, and NetName's exit
// would pick an entry again in the middle of the rebuild. So the focus goes
// to the list first, and NetName stays quiet until the rebuild is done.
void TKelTerm::NetListRefresh() {
  const QSignalBlocker quiet(NetName);
  const std::array<QWidget*, 5> controls = EntryControls(*this);
  if (std::ranges::find(controls, QApplication::focusWidget()) != controls.end())
    NetList->setFocus();
  for (QWidget* control : controls) control->setEnabled(false);
  NetList->clear();
  for (int k = 0; k < SettingList.EntryCount(); ++k) {
    auto* item = new QListWidgetItem(FromShiftJis(SettingList.Line(EntryLine(kNameLine, k))));
    // A row as high as the font, so that no glyph loses its top.
    const QFontMetrics metrics = NetList->fontMetrics();
    item->setSizeHint(QSize(metrics.horizontalAdvance(item->text()) + 4, metrics.height()));
    NetList->addItem(item);
  }
}

void TKelTerm::NetListClick() {
  const int entry = PickedEntry();
  if (entry < 0) return;
  for (QWidget* control : EntryControls(*this)) control->setEnabled(true);
  NetName->setText(FromShiftJis(SettingList.Line(EntryLine(kNameLine, entry))));
  NetTelNo->setText(FromShiftJis(SettingList.Line(EntryLine(kTelNoLine, entry))));
  NetLogFileName->setText(FromShiftJis(SettingList.Line(EntryLine(kLogTemplateLine, entry))));
}

void TKelTerm::NetListDblClick() { DialButtonClick(); }

void TKelTerm::NetNameChange() {
  const int entry = PickedEntry();
  if (entry >= 0) SetSettingLine(EntryLine(kNameLine, entry), NetName->text());
}

void TKelTerm::NetTelNoChange() {
  const int entry = PickedEntry();
  if (entry >= 0) SetSettingLine(EntryLine(kTelNoLine, entry), NetTelNo->text());
}

void TKelTerm::NetLogFileNameChange() {
  const int entry = PickedEntry();
  if (entry >= 0) SetSettingLine(EntryLine(kLogTemplateLine, entry), NetLogFileName->text());
}

// Runs while the focus moves on (or on Return, when it stays): the rebuild
// disables the box that is taking the focus, so it is given back afterwards.
void TKelTerm::NetNameExit() {
  const int row = NetList->currentRow();
  QWidget* const focus = QApplication::focusWidget();
  NetListRefresh();
  if (row < 0 || row >= NetList->count()) return;
  NetList->setCurrentRow(row);
  NetListClick();
  if (focus && focus->isEnabled() && QApplication::focusWidget() != focus) focus->setFocus();
}

void TKelTerm::AddNetClick() {
  SettingList.Lines.insert(SettingList.Lines.end(), {ToShiftJis(QStringLiteral("新規登録ネット")),
                                                     "999-999-9999", "%Y%M%D.LOG"});
  SettingList.Lines.insert(SettingList.Lines.end(), kBlankLinesOfEntry, std::string());
  NetListRefresh();
}

void TKelTerm::DeleteNetClick() {
  const int entry = PickedEntry();
  if (entry < 0) return;
  const auto first =
      SettingList.Lines.begin() + static_cast<std::ptrdiff_t>(EntryLine(kNameLine, entry));
  SettingList.Lines.erase(first, first + TSettingList::kEntryLines);
  NetListRefresh();
}

void TKelTerm::DialButtonClick() {
  ClosePhoneBook();
  const int entry = PickedEntry();
  const std::string logTemplate =
      entry < 0 ? ToShiftJis(NetLogFileName->text())
                : SettingBytes(NetLogFileName->text(),
                               SettingList.Line(EntryLine(kLogTemplateLine, entry)));
  const std::string number =
      entry < 0 ? ToShiftJis(NetTelNo->text())
                : SettingBytes(NetTelNo->text(), SettingList.Line(EntryLine(kTelNoLine, entry)));
  SetLogFileName(logTemplate);
  Dial(number);
}

// The dial text goes out in one write, past the paced queues and whatever
// the key gate or a transfer says. A port that is not open (the open has
// just failed) or fails on the write ends the dial with the port's message.
void TKelTerm::Dial(const std::string& Number) {
  if (!PortOC->isChecked()) CommOpen();
  const std::string text = SettingBytes(DialCommand->text(), SettingList.Line(2)) + Number + '\r';
  try {
    KELCOMM1->WriteString(text);
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
    return;
  }
  FocusScreen();
}
