#pragma once
// Driving the phone-book and modem panes as the user does: typing into the
// box that has the focus, clicking list items, reading settings lines.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <string>
#include <vector>

#include "WindowTestSupport.h"

// Gives the window the focus, as the user's first click does.
inline void ActivateWindow(TKelTerm& w) {
  w.activateWindow();
  ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &w; }));
}

// Puts the focus in the widget and waits until it has it.
inline void FocusOn(QWidget* widget) {
  widget->setFocus(Qt::MouseFocusReason);
  ASSERT_TRUE(WaitUntil([&] { return widget->hasFocus(); }));
}

// One keystroke per character, sent to the widget that has the focus.
inline void TypeText(const QString& text) {
  for (const QChar c : text) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(focus, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(focus, &release);
  }
}

inline void PressKey(int key) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(focus, &press);
}

// Selects all of the focused box's text and types text over it.
inline void ReplaceText(const QString& text) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
  QApplication::sendEvent(focus, &selectAll);
  if (text.isEmpty()) {
    PressKey(Qt::Key_Delete);
    return;
  }
  TypeText(text);
}

inline void SendMouse(QWidget* target, QEvent::Type type, QPoint at) {
  QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton,
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

// Clicks (or double-clicks) the list's item in row with the mouse.
inline void ClickItem(QListWidget* list, int row, bool twice = false) {
  ASSERT_LT(row, list->count());
  const QPoint at = list->visualItemRect(list->item(row)).center();
  QWidget* view = list->viewport();
  SendMouse(view, QEvent::MouseButtonPress, at);
  SendMouse(view, QEvent::MouseButtonRelease, at);
  if (!twice) return;
  SendMouse(view, QEvent::MouseButtonDblClick, at);
  SendMouse(view, QEvent::MouseButtonRelease, at);
}

inline QStringList ItemTexts(const QListWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
  return texts;
}

// The modem block of a settings file with COM1 on the given device, then one
// phone-book entry per name: its number, its log template, seven empty lines.
struct TestEntry {
  std::string name, number, logTemplate;
};
inline std::string SettingsWithEntries(const std::string& devicePath,
                                       const std::vector<TestEntry>& entries) {
  std::string bytes = SettingsWithCom1(devicePath);
  for (const TestEntry& e : entries) {
    bytes += e.name + "\r\n" + e.number + "\r\n" + e.logTemplate + "\r\n";
    for (int i = 0; i < 7; ++i) bytes += "\r\n";
  }
  return bytes;
}
