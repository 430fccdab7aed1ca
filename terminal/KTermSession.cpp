// Start-up, the settings file, and the port session: open, close with the
// modem hang-up, and the carrier's coming and going.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "DeviceFollow.h"
#include "ElidedText.h"
#include "FlowLine.h"
#include "KTerm.h"
#include "KelApplication.h"
#include "LineLamps.h"
#include "ProgramFolder.h"
#include "SettingsFile.h"
#include "ShiftJis.h"

namespace {

const char kSettingsFileName[] = "Kelterm.ini";
const char kDefaultLogTemplate[] = "%Y%M%D.LOG";

}  // namespace

void TKelTerm::SetUpComponent() {
  KELCOMM1->SetPort(3);
  KELCOMM1->SetBaudRate(38400);
  KELCOMM1->SetEventMask({evRlsd});
  KELCOMM1->OnCommEvent = [this](TComm* Sender, TCommEventMask EventMask) {
    KELCOMM1CommEvent(Sender, EventMask);
  };
  KELCOMM1->OnCommReceive = [this](TComm* Sender, uint16_t Size) {
    KelComm1CommReceive(Sender, Size);
  };
  // Reports come from the watcher, and from Open and Close on this thread;
  // queued alike, they reach the lamps in the order they were made.
  KELCOMM1->OnLineState = [this](uint32_t Modem) {
    QMetaObject::invokeMethod(
        this,
        [this, Modem] {
          lineLamps_->Show(Modem);
          ShowFlowHold(Modem);
        },
        Qt::QueuedConnection);
  };
  KELCOMM1->OnWatcherException = [](const std::string& message) { ShowErrorBoxLater(message); };
}

void TKelTerm::FormCreate() {
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive)
      AppOnActivate();
    else
      AppOnDeActivate();
  });
  {
    const QSignalBlocker quiet(Protocol);
    for (const char* name : ProtocolNames) Protocol->addItem(QString::fromUtf8(name));
    Protocol->setCurrentIndex(pr_ZMODEM);
  }
  ProtocolChange();
  Separater1->hide();
  LoadSettings();
  ShowModemSettings();
  ShowZmodemAutoStart();
  ClearBuffer(true);
  qApp->installEventFilter(this);
  SetLogFileName(kDefaultLogTemplate);
  SelExists = false;
  SelDragging = false;
  SelAnchorLine = SelAnchorCol = SelCurLine = SelCurCol = 0;
}

std::string TKelTerm::SettingsPath() {
  return QFile::encodeName(ProgramFilePath(QString::fromLatin1(kSettingsFileName))).toStdString();
}

void TKelTerm::LoadSettings() {
  TSettingsLoad load = LoadSettingsFile(SettingsPath());
  SettingList = std::move(load.List);
  settingsReadable_ = load.Writable;
  if (!load.Error.empty())
    ShowErrorBox(
        FailureText("設定ファイルを読み込めません. 今回の設定は保存しません.", load.Error));
}

// The modem pane shows the settings without writing them back: a line is
// kept byte for byte until the user edits its box.
void TKelTerm::ShowModemSettings() {
  const QSignalBlocker quietPort(Port);
  const QSignalBlocker quietSpeed(BaudRate);
  const QSignalBlocker quietDial(DialCommand);
  const QSignalBlocker quietInit(ModemClearCommand);
  Port->setValue(SettingList.PortNumber());
  BaudRate->setEditText(FromShiftJis(SettingList.Line(1)));
  DialCommand->setText(FromShiftJis(SettingList.Line(2)));
  ModemClearCommand->setText(FromShiftJis(SettingList.Line(3)));
  ShowPortFlow();
}

void TKelTerm::SaveSettings() {
  if (!settingsReadable_) return;
  const std::string error = SaveSettingsFile(SettingsPath(), SettingList);
  if (!error.empty()) ShowErrorBox(FailureText("設定ファイルを保存できません.", error));
}

void TKelTerm::FormShow() {
  KeyGard->setChecked(true);
  KeyAccept->setChecked(true);
}

void TKelTerm::FormActivate() {
  ScreenDirty = true;
  if (focusWidget() == TextDrawBox) TextDrawBoxEnter();
}

void TKelTerm::FormDeactivate() {
  if (focusWidget() == TextDrawBox) TextDrawBoxExit();
}

void TKelTerm::AppOnActivate() {
  if (QApplication::activeWindow() == this) FormActivate();
}

void TKelTerm::AppOnDeActivate() {
  if (QApplication::activeWindow() == this) FormDeactivate();
}

void TKelTerm::FormResize() { ScreenDirty = true; }

void TKelTerm::FormClick() { ScreenDirty = true; }

// The reason sits in the bar's second field, whole in its tool tip.
void TKelTerm::ShowOpenFailure(const QString& reason) {
  SetStatusText(QStringLiteral("通信ポートをオープンできません."));
  statusReason_->SetWholeText(reason);
  ShowSessionState();
}

void TKelTerm::CommOpen() {
  KeyQueue.clear();
  PasteQueue.clear();
  const size_t firstLogLine = Session.LogFirstLine();
  try {
    OpenPort();
  } catch (const ECommOpenError& e) {
    ShowOpenFailure(QString::fromStdString(e.Why.Japanese()));
    return;
  } catch (...) {
    ShowOpenFailure(QString());
    return;
  }
  StartSession(firstLogLine, QStringLiteral("通信ポートをオープンしました."));
}

// Opens the device of the port the pane shows; throws when it does not open.
void TKelTerm::OpenPort() {
  KELCOMM1->SetBaudRate(ParseSpeed(BaudRate->currentText().toStdString()));
  KELCOMM1->SetPort(static_cast<uint8_t>(Port->value()));
  KELCOMM1->SetDevicePath(PathFromShiftJis(SettingList.DevicePath(Port->value())));
  KELCOMM1->SetFlowControls(
      FlowControlsOf(PortFlowChoice(SettingList.Line(kFlowControlLine), Port->value())));
  ++session_;
  KELCOMM1->Open();
  DeviceFollow->Forget();
  DeviceFollow->FollowPath(KELCOMM1->ResolvedDevicePath());
}

// The port has opened: the log opens and the status bar says so.
void TKelTerm::StartSession(size_t firstLogLine, const QString& message) {
  ShowSessionState();
  try {
    LogOpen(firstLogLine);
  } catch (const std::exception& e) {
    // The session goes on without a log; the user is told why.
    ShowErrorBox(FailureText("ログファイルをオープンできません.", e.what()));
    return;
  }
  SetStatusText(message);
}

void TKelTerm::CommClose() { CloseSession(false); }

// After a carrier loss the status bar keeps "回線が切れました.": why the
// session ended is what the user needs to read, and it says the port is
// closed as well. A lost line is not hung up: a device that vanished may
// still show the carrier it had until the watcher notices.
void TKelTerm::CloseSession(bool CarrierLost) {
  if (!KELCOMM1->IsOpen() || closingSession_) return;
  closingSession_ = true;
  setEnabled(false);
  if (!CarrierLost && KELCOMM1->CarrierOn()) HangUp();
  if (!CarrierLost) SetStatusText(QStringLiteral("ポートをクローズしました."));
  KELCOMM1->Close();
  WaitTicks(300);
  Session.LogClose();
  ShowSessionState();
  SetLogFileName(kDefaultLogTemplate);
  QCoreApplication::processEvents();
  setEnabled(true);
  closingSession_ = false;
  FocusScreen();
}

// The modem's escape and hang-up. The line is about to close whatever
// happens here, so a failed write must not stop the close.
void TKelTerm::HangUp() {
  SetStatusText(QStringLiteral("回線切断中です."));
  try {
    KELCOMM1->WriteString("+++");
    WaitTicks(1200);
    KELCOMM1->WriteString("ATH\r\n");
    WaitTicks(300);
  } catch (const std::exception&) {
  }
}

void TKelTerm::ShowSessionState() {
  const bool open = KELCOMM1->IsOpen();
  PortOC->setChecked(open);
  PortOpenClose->setChecked(open);
}

// Waits with the window alive: events (the tick among them) go on being
// handled until ms milliseconds of the tick counter have passed.
void TKelTerm::WaitTicks(uint32_t ms) {
  const uint32_t start = GetTickCount();
  for (uint32_t passed = 0; passed < ms; passed = GetTickCount() - start) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(ms - passed), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

void TKelTerm::PortOpenCloseClick() {
  if (!KELCOMM1->IsOpen()) {
    CommOpen();
  } else if (KELCOMM1->CarrierOn()) {
    const QString question =
        QStringLiteral("回線がつながったままです。\r\nポートをクローズしていいですか。");
    if (AskYesNo(QStringLiteral("KELTERM"), question))
      CommClose();
    else
      ShowSessionState();  // the click has put the button up
  } else {
    CommClose();
  }
  FocusScreen();
}

void TKelTerm::PortOCClick() { PortOpenCloseClick(); }

// Runs on the serial watcher: hand the event to the main thread and return.
void TKelTerm::KELCOMM1CommEvent(TComm*, TCommEventMask EventMask) {
  const uint32_t session = session_.load();
  QMetaObject::invokeMethod(
      this, [this, EventMask, session] { OnLineEvent(EventMask, session); }, Qt::QueuedConnection);
}

void TKelTerm::OnLineEvent(TCommEventMask EventMask, uint32_t session) {
  if (session != session_.load() || !isEnabled() || !KELCOMM1->IsOpen() ||
      !EventMask.contains(evRlsd))
    return;
  if (KELCOMM1->CarrierOn()) {
    SetStatusText(QStringLiteral("接続しました."));
  } else if (KELCOMM1->DeviceGone()) {
    DeviceVanished();
  } else {
    SetStatusText(QStringLiteral("回線が切れました."));
    CloseSession(true);
  }
}

void TKelTerm::TerminalCloseClick() { close(); }

void TKelTerm::FormDestroy() {
  CommClose();
  Timer2->stop();
  SaveSettings();
}

void TKelTerm::StatusBarClick() {
  StatusBar->setChecked(!StatusBar->isChecked());
  SpeedButton12->setChecked(StatusBar->isChecked());
  StatusBar1->setVisible(StatusBar->isChecked());
  FocusScreen();
}

void TKelTerm::SpeedButton12Click() { StatusBarClick(); }
