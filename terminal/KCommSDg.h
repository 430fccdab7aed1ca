#pragma once
// TCommStatus is the small progress window of a file transfer. It never
// holds data of its own: the main window fills its value labels from the
// transfer component while a transfer runs, and hides it afterwards. It is
// never modal and takes no focus when it appears, so the terminal stays in
// use during a transfer. Main thread only.

#include <QDialog>

class QLabel;
class QPushButton;
class TElidedLabel;
class TKELCOMM;
struct TTransferTexts;

class TCommStatus : public QDialog {
  Q_OBJECT
 public:
  explicit TCommStatus(QWidget* parent = nullptr);

  QLabel* Label2;
  QLabel* Protocol;
  QLabel* Label1;
  TElidedLabel* File_Name;  // a path: elided when long
  QLabel* Label3;
  QLabel* File_Size;
  QLabel* Label6;
  QLabel* TranSpeed;
  QLabel* Label4;
  QLabel* TranTime;
  QLabel* Label5;
  QLabel* TranTimeLeft;
  QPushButton* CANCEL;

  // The component whose transfer the cancel button stops; the main window
  // sets it before it shows the dialog.
  void SetTransfer(TKELCOMM* comm) { transfer_ = comm; }
  // Asks the transfer to stop; the dialog stays up until it has.
  void CANCELClick();
  // Sets each value label whose text differs, in the dialog's fixed order.
  void ShowTexts(const TTransferTexts& texts);

 public slots:
  // There is no close box: only the end of the transfer hides the dialog,
  // so Escape does nothing.
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* AddLabel(const char* text, int left, int top);

  TKELCOMM* transfer_ = nullptr;
};
