#pragma once
// TKelTerm is the terminal's main window: toolbar, menus, panes, the terminal
// screen and the status bar, the settings lines, and the transfer component
// KELCOMM1 that is also the window's serial port.
//
// Threading. Everything here runs on the main thread except the two
// notifications of KELCOMM1: KelComm1CommReceive runs on the serial watcher
// as the receive path needs, and KELCOMM1CommEvent only posts the line event
// to the main thread (it must never wait there, since closing the port waits
// for the watcher); the modem lines' reports reach the lamps the same way. The window's enabled
// state keeps carrier events out while a close sequence runs.

#include <QMainWindow>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ElidedText.h"
#include "KelComm.h"
#include "KelSession.h"
#include "Separate.h"
#include "SettingList.h"
#include "TextBuffer.h"

class QAction;
class QComboBox;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QStatusBar;
class TElidedLabel;
class TLineLamps;
class QTimer;
class QToolButton;
class QKeyEvent;
class QPainter;
class TCommStatus;
class TDeviceFollow;
class TPaintBox;

class TKelTerm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TKelTerm(QWidget* parent = nullptr);
  ~TKelTerm() override;

  // The status bar's text; every session message replaces it whole and
  // clears the second field, which says why the port did not open.
  QString StatusText() const;
  void SetStatusText(const QString& text);
  QString StatusReason() const;

  // Toolbar.
  QFrame* Panel1;
  QFrame* Panel3;
  QToolButton* PortOC;
  QToolButton* KeyAccept;
  QToolButton* SpeedButton4;
  QToolButton* SpeedButton5;
  QToolButton* SpeedButton12;
  QToolButton* SpeedButton6;
  QToolButton* SpeedButton7;
  QToolButton* SpeedButton10;
  QLabel* Label2;
  QComboBox* Protocol;
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;
  TElidedLabel* LogFileName;
  QLabel* Label3;

  // Phone-book pane.
  QFrame* NetSettingPanel;
  QListWidget* NetList;
  QPushButton* DialButton;
  QPushButton* DeleteNet;
  QPushButton* AddNet;
  QLabel* Label7;
  QLineEdit* NetName;
  QLabel* Label8;
  QLineEdit* NetTelNo;
  QLabel* Label9;
  QLineEdit* NetLogFileName;
  QLabel* Label10;
  QPushButton* BitBtn4;

  // Modem pane.
  QFrame* ModemSettingPanel;
  QLabel* Label1;
  QSpinBox* Port;
  QLabel* Label4;
  QComboBox* BaudRate;
  QLabel* Label5;
  QLineEdit* DialCommand;
  QLabel* Label6;
  QLineEdit* ModemClearCommand;
  // The device behind the chosen port (settings lines 4 to 7); empty means
  // the port's usual device.
  QLabel* Label11;
  QComboBox* PortDevice;
  // The chosen port's flow control (settings line 9), used at the next open.
  QLabel* Label12;
  QComboBox* FlowControl;

  // Back-scroll pane and its splitter.
  QFrame* BackText;
  TPaintBox* PaintBox2;
  QScrollBar* BackTextScrollBar;
  TSeparater* Separater1;

  // Terminal screen, status bar, one-line box.
  QFrame* TextDrawBox;
  TPaintBox* PaintBox1;
  QStatusBar* StatusBar1;
  QFrame* Panel2;
  QLineEdit* Edit1;
  QToolButton* SpeedButton3;
  QWidget* DummyPanel;
  QTimer* Timer2;

  // Main menu.
  QMenu* KF1;
  QAction* KeyGard;
  QAction* PortOpenClose;
  QAction* KC1;
  QAction* TerminalClose;
  QMenu* Edit2;
  QAction* K3;
  QAction* K4;
  QAction* KP1;
  QAction* KP2;
  QMenu* K1;
  QAction* BackScroll;
  QAction* OneLineEdit;
  QAction* TOOLBAR;
  QAction* StatusBar;
  QMenu* KT1;
  QAction* XMODEM128SUM_UPLOAD;
  QAction* KXMODEM128SUM_DOWNLOAD;
  QAction* ZmodemAutoStart;  // checked: a host's ZMODEM program offers its transfer
  QAction* NetSetting;
  QMenu* KS1;
  QAction* ModemSetting;
  QMenu* KH2;
  QAction* K2;

  std::unique_ptr<TKELCOMM> KELCOMM1;
  // The serial devices as they come and go, and the port's return after its
  // device vanished (KTermDevices.cpp).
  TDeviceFollow* DeviceFollow = nullptr;
  // The progress dialog, created after the window; may stay null.
  TCommStatus* CommStatus = nullptr;

  // The Yes/No question of the close; true for Yes.
  std::function<bool(const QString& caption, const QString& text)> AskYesNo;

  // Private state of the window.
  TSettingList SettingList;
  // The session apart from the window (KelSession.h, which also says where
  // the threads meet); the names below are its parts.
  TKelSession Session;
  TTextBuffer& TextBuffer = Session.TextBuffer;
  std::atomic<bool>& ScreenDirty = Session.ScreenDirty;
  std::atomic<bool>& Receiving = Session.Receiving;
  std::string& KeyQueue = Session.KeyQueue;
  std::string& PasteQueue = Session.PasteQueue;
  int CaretTop = 0;
  int32_t BackTopLine = 0;
  int32_t BackBottomLine = 0;
  int32_t SelAnchorLine = 0;
  int32_t SelAnchorCol = 0;
  int32_t SelCurLine = 0;
  int32_t SelCurCol = 0;
  bool SelExists = false;
  bool SelDragging = false;

  // Start-up, settings and the port session.
  void FormCreate();
  void FormShow();
  void FormActivate();
  void FormDeactivate();
  void AppOnActivate();
  void AppOnDeActivate();
  void FormResize();
  void FormClick();
  void FormDestroy();
  void CommOpen();
  void ShowOpenFailure(const QString& reason);
  void CommClose();
  void PortOpenCloseClick();
  void PortOCClick();
  void KELCOMM1CommEvent(TComm* Sender, TCommEventMask EventMask);
  void TerminalCloseClick();
  void StatusBarClick();
  void SpeedButton12Click();

  // Receive path and terminal screen.
  void KelComm1CommReceive(TComm* Sender, uint16_t Size);
  void TextDraw();
  void ClearBuffer(bool WithBanner);
  void KC1Click();
  void PaintBox1Paint();
  void PaintBox1Click();
  void TextDrawBoxEnter();
  void TextDrawBoxExit();
  void Timer2Timer();
  // The rows of the last redraw, each 80 bytes, and the caret's column.
  std::vector<std::string> ScreenRows() const;
  int CaretColumn() const { return caretColumn_; }
  static constexpr int kScreenPitch = 18;  // pixels from one row to the next

  // Keyboard and text sending. The key handlers answer true when they have
  // consumed the key.
  bool KeyPress(QKeyEvent* Key);
  void KeyGardClick();
  void KeyAcceptClick();
  void OneLineEditClick();
  void SpeedButton5Click();
  bool Edit1KeyPress(QKeyEvent* Key);
  void SendButton();
  void KP1Click();
  void KP2Click();
  void SpeedButton6Click();
  void DummyPanelEnter();
  // Step 3 of the tick: one chunk of queued text to the line.
  void SendQueuedText();
  // An input method's events at the terminal screen: committed text is typed
  // like keys, and the screen answers the method's queries. True when taken.
  bool ScreenInputMethod(QEvent* Event);

  // Session log.
  void SetLogFileName(const std::string& Template);
  // Opens the log named by LogFileName in the program's folder, writes its
  // header and then the session's lines finished since FirstLine (taken by
  // Session.LogFirstLine before the port opened). Throws std::runtime_error
  // when the file cannot be opened.
  void LogOpen(size_t FirstLine);
  // The expanded name as bytes (the label shows it decoded). Main thread.
  std::string LogFileNameBytes;
  // The session's log, open while the session is.
  TSessionLog& LogFile = Session.LogFile;

  // Back-scroll pane. AppOnMessage sees every event of the application
  // first; true turns the event into one without effect.
  bool AppOnMessage(QObject* Target, QEvent* Message);
  void BackScrollClick();
  void SpeedButton4Click();
  void BackTextResize();
  void K3Click();
  void K4Click();
  void Separater1StartDrag();
  void Separater1EndDrag(QObject* Sender, int32_t Pos, int32_t Cg);
  void BackTextDraw();
  void BackTextScrollBarChange();
  void PaintBox2Click();
  void BackTextScrollBarEnter();
  void PaintBox2MouseDown(Qt::MouseButton Button, int X, int Y);
  void PaintBox2MouseMove(int X, int Y);
  void PaintBox2MouseUp(Qt::MouseButton Button, int X, int Y);
  // The selected bytes; empty when nothing is selected.
  void GetSelBackText(std::string& Text);
  // A key at the terminal screen; true when the pane used it.
  bool TextDrawBoxWmKeyDown(int Key);
  static constexpr int kBackRowHeight = 19;  // pixels per back-scroll row

  // Phone book, modem settings and dialing.
  void NetSettingClick();
  void SpeedButton2Click();
  void BitBtn4Click();
  void NetListRefresh();
  void NetListClick();
  void NetListDblClick();
  void NetNameChange();
  void NetNameExit();
  void NetTelNoChange();
  void NetLogFileNameChange();
  void AddNetClick();
  void DeleteNetClick();
  void DialButtonClick();
  void Dial(const std::string& Number);
  void ModemSettingClick();
  void SpeedButton1Click();
  void PortChange();
  void BaudRateChange();
  void DialCommandChange();
  void ModemClearCommandChange();
  void PortDeviceChange();
  void PortDeviceDropDown();
  void FlowControlChange();
  void K2Click();

  // Transfer control.
  void UpLoadClick();
  void DOWNLOADClick();
  void SpeedButton7Click();
  void SpeedButton10Click();
  void ProtocolChange();
  // Shows the progress dialog without making it modal and brings its values
  // up to date while a transfer runs; the tick calls it on each pass.
  void CommStatusShow();
  // Files dropped on the terminal screen (its drag and drop events; true
  // when taken): uploaded as one batch when the port is open, no transfer
  // runs and the protocol takes them; otherwise the status bar says why.
  bool ScreenDragAndDrop(QEvent* Event);
  void DropFiles(const QStringList& Files);
  QString DropRefusal(int Count) const;  // empty when the files may go
  // The file choices of a transfer, made at their first use.
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;
  // Ask for the file (the dialog's title followed by TitleSuffix) and start
  // with the component's protocol; true when the transfer runs.
  bool StartChosenUpload(const QString& TitleSuffix);
  bool StartChosenDownload(const QString& TitleSuffix);

  // Transfers the host starts (ZMODEM auto-start).
  void ZmodemAutoStartClick();
  void ShowZmodemAutoStart();  // the menu's check and the receive path from the settings
  void PostZmodemOffer();      // on the serial watcher: queues what the receive path spotted
  void ZmodemOffered(TZmodemOffer Offer);
  void ZmodemAutoStartEnded();  // on the tick while no transfer runs

 signals:
  // Every text the status bar shows, in order.
  void StatusTextShown(const QString& text);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildPanes(QWidget* client);
  void BuildToolbar();
  void BuildPhoneBookPane();
  void BuildModemPane();
  void BuildBackScrollPane();
  void BuildScreenAndStatus(QWidget* client);
  void BuildOneLinePane();
  void BuildMenus();
  void ConnectControls();
  void SetUpComponent();
  static std::string SettingsPath();
  void LoadSettings();
  void ShowModemSettings();
  void SaveSettings();
  void OnLineEvent(TCommEventMask EventMask, uint32_t session);
  // CommClose's sequence; a close after a carrier loss leaves the loss's
  // message on the status bar and sends no hang-up.
  void CloseSession(bool CarrierLost);
  void HangUp();
  void OpenPort();
  void StartSession(size_t firstLogLine, const QString& message);
  void SetUpDeviceFollow();
  void DevicesChanged();
  void DeviceVanished();
  void ReopenReturnedDevice();
  void ShowSessionState();
  void WaitTicks(uint32_t ms);
  void FocusScreen();

  // Phone book and modem pane.
  int PickedEntry() const;  // the list's current entry, or -1
  void ClosePhoneBook();
  void ShowPortDevice();
  void ShowPortFlow();
  // Says on the status bar while flow control holds back text that waits.
  void ShowFlowHold(uint32_t Modem);
  bool OutputHeld(uint32_t Modem) const;
  void SetSettingLine(size_t index, const QString& text);

  // Receive path and terminal screen.
  void PaintScreen(QPainter& canvas);
  bool CaretInvolved() const;
  std::vector<std::string> screenRows_;  // snapshot taken by TextDraw
  int caretColumn_ = 0;
  bool caretShown_ = false;
  bool drawing_ = false;  // TextDraw is painting its snapshot

  bool offerShown_ = false;   // a host's ZMODEM offer waits for the user
  bool autoStarted_ = false;  // the running transfer was the host's: ZMODEM

  // Back-scroll pane.
  void ConnectBackScroll();
  void PaintBackText(QPainter& canvas);
  void BackTextPlace(size_t Count);
  int BackTextRows() const;

  QLabel* statusText_ = nullptr;
  TElidedLabel* statusReason_ = nullptr;  // shortened, whole in its tool tip
  TLineLamps* lineLamps_ = nullptr;       // the modem lines as last reported
  QObject* backScrollEvents_ = nullptr;   // the back-scroll pane's event filter
  bool destroyed_ = false;                // FormDestroy has run
  bool closingSession_ = false;           // CommClose is under way
  bool settingsReadable_ = true;          // false: never overwrite the file
  std::atomic<uint32_t> session_{0};      // counts port opens; stale events are dropped

  // The child widgets outlive this class's part of the window: a pane's box
  // that loses the focus while they are deleted would still run its handler.
  // Being the last member, this quiets the boxes first.
  struct TPanesQuiet {
    TKelTerm* form;
    ~TPanesQuiet();
  } panesQuiet_{this};
};
