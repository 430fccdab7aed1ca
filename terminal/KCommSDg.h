#pragma once
// TCommStatus is the small progress window of a file transfer. It never
// holds data of its own: the main window's tick fills its value labels from
// the transfer component while a transfer runs, and hides it afterwards.
// Main thread only.

#include <QDialog>

class QLabel;
class QPushButton;

class TCommStatus : public QDialog {
  Q_OBJECT
 public:
  explicit TCommStatus(QWidget* parent = nullptr);

  QLabel* Label2;
  QLabel* Protocol;
  QLabel* Label1;
  QLabel* File_Name;
  QLabel* Label3;
  QLabel* File_Size;
  QLabel* Label6;
  QLabel* TranSpeed;
  QLabel* Label4;
  QLabel* TranTime;
  QLabel* Label5;
  QLabel* TranTimeLeft;
  QPushButton* CANCEL;

  void CANCELClick();

 private:
  QLabel* AddLabel(const char* text, int left, int top);
};
