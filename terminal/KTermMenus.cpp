// The main menu and the wiring of every control to its handler.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include "KTerm.h"
#include "PaintBox.h"

namespace {

using Handler = void (TKelTerm::*)();

QAction* AddItem(QMenu* menu, const char* caption, const QKeySequence& shortcut = {},
                 bool checkable = false) {
  QAction* item = menu->addAction(QString::fromUtf8(caption));
  item->setShortcut(shortcut);
  item->setCheckable(checkable);
  return item;
}

// A menu item's check mark belongs to its handler, which sets it from the
// state it changes; Qt's own toggle on a click is taken back first.
void ConnectItem(TKelTerm* form, QAction* item, Handler handler) {
  QObject::connect(item, &QAction::triggered, form, [form, item, handler](bool checked) {
    if (item->isCheckable()) {
      const QSignalBlocker quiet(item);
      item->setChecked(!checked);
    }
    if (handler) (form->*handler)();
  });
}

void ConnectButton(TKelTerm* form, QAbstractButton* button, Handler handler) {
  QObject::connect(button, &QAbstractButton::clicked, form,
                   [form, handler] { (form->*handler)(); });
}

}  // namespace

void TKelTerm::BuildMenus() {
  QMenuBar* bar = menuBar();
  KF1 = bar->addMenu(QStringLiteral("ファイル(&F)"));
  KeyGard = AddItem(KF1, "キー入力(&K)", {}, true);
  PortOpenClose = AddItem(KF1, "オープンポート(&P)", {}, true);
  KC1 = AddItem(KF1, "バッファをクリア(&C)");
  KF1->addSeparator();
  TerminalClose = AddItem(KF1, "終了(&X)");

  Edit2 = bar->addMenu(QStringLiteral("編集(&E)"));
  K3 = AddItem(Edit2, "コピー(&C)", QKeySequence(Qt::CTRL | Qt::Key_C));
  K4 = AddItem(Edit2, "引用符付きコピー", QKeySequence(Qt::CTRL | Qt::Key_O));
  KP1 = AddItem(Edit2, "送信(&P)", QKeySequence(Qt::CTRL | Qt::Key_V));
  KP2 = AddItem(Edit2, "引用符付きで送信(&S)", QKeySequence(Qt::CTRL | Qt::Key_Q));

  K1 = bar->addMenu(QStringLiteral("表示(&V)"));
  BackScroll = AddItem(K1, "バックスクロール(&B)", {}, true);
  OneLineEdit = AddItem(K1, "１行編集(&L)", QKeySequence(Qt::ALT | Qt::Key_C), true);
  K1->addSeparator();
  TOOLBAR = AddItem(K1, "ツールバー(&T)", {}, true);
  TOOLBAR->setChecked(true);
  StatusBar = AddItem(K1, "ステータスバー(&S)", {}, true);
  StatusBar->setChecked(true);

  KT1 = bar->addMenu(QStringLiteral("ファイル転送(&T)"));
  XMODEM128SUM_UPLOAD = AddItem(KT1, "アップロード(&U)", QKeySequence(Qt::ALT | Qt::Key_U));
  KXMODEM128SUM_DOWNLOAD = AddItem(KT1, "ダウンロード(&D)", QKeySequence(Qt::ALT | Qt::Key_D));
  KT1->addSeparator();
  ZmodemAutoStart = AddItem(KT1, "ZMODEM自動起動(&Z)", {}, true);

  // This top-level item acts by itself instead of opening a menu.
  NetSetting = bar->addAction(QStringLiteral("電話帳(&N)"));
  NetSetting->setCheckable(true);

  KS1 = bar->addMenu(QStringLiteral("設定(&S)"));
  ModemSetting = AddItem(KS1, "モデム設定(&M)", {}, true);
  KH2 = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
  K2 = AddItem(KH2, "バージョン情報'(&A)");
}

void TKelTerm::ConnectControls() {
  const std::pair<QAction*, Handler> items[] = {
      {KeyGard, &TKelTerm::KeyGardClick},
      {PortOpenClose, &TKelTerm::PortOpenCloseClick},
      {KC1, &TKelTerm::KC1Click},
      {TerminalClose, &TKelTerm::TerminalCloseClick},
      {K3, &TKelTerm::K3Click},
      {K4, &TKelTerm::K4Click},
      {KP1, &TKelTerm::KP1Click},
      {KP2, &TKelTerm::KP2Click},
      {BackScroll, &TKelTerm::BackScrollClick},
      {OneLineEdit, &TKelTerm::OneLineEditClick},
      {TOOLBAR, nullptr},
      {StatusBar, &TKelTerm::StatusBarClick},
      {XMODEM128SUM_UPLOAD, &TKelTerm::UpLoadClick},
      {KXMODEM128SUM_DOWNLOAD, &TKelTerm::DOWNLOADClick},
      {ZmodemAutoStart, &TKelTerm::ZmodemAutoStartClick},
      {NetSetting, &TKelTerm::NetSettingClick},
      {ModemSetting, &TKelTerm::ModemSettingClick},
      {K2, &TKelTerm::K2Click},
  };
  for (const auto& [item, handler] : items) ConnectItem(this, item, handler);

  const std::pair<QAbstractButton*, Handler> buttons[] = {
      {PortOC, &TKelTerm::PortOCClick},
      {KeyAccept, &TKelTerm::KeyAcceptClick},
      {SpeedButton4, &TKelTerm::SpeedButton4Click},
      {SpeedButton5, &TKelTerm::SpeedButton5Click},
      {SpeedButton12, &TKelTerm::SpeedButton12Click},
      {SpeedButton6, &TKelTerm::SpeedButton6Click},
      {SpeedButton7, &TKelTerm::SpeedButton7Click},
      {SpeedButton10, &TKelTerm::SpeedButton10Click},
      {SpeedButton1, &TKelTerm::SpeedButton1Click},
      {SpeedButton2, &TKelTerm::SpeedButton2Click},
      {SpeedButton3, &TKelTerm::SendButton},
      {DialButton, &TKelTerm::DialButtonClick},
      {DeleteNet, &TKelTerm::DeleteNetClick},
      {AddNet, &TKelTerm::AddNetClick},
      {BitBtn4, &TKelTerm::BitBtn4Click},
  };
  for (const auto& [button, handler] : buttons) ConnectButton(this, button, handler);

  connect(Protocol, &QComboBox::currentIndexChanged, this, [this] { ProtocolChange(); });
  connect(Port, &QSpinBox::valueChanged, this, [this] { PortChange(); });
  connect(BaudRate, &QComboBox::editTextChanged, this, [this] { BaudRateChange(); });
  connect(FlowControl, &QComboBox::currentIndexChanged, this, [this] { FlowControlChange(); });
  connect(DialCommand, &QLineEdit::textChanged, this, [this] { DialCommandChange(); });
  connect(ModemClearCommand, &QLineEdit::textChanged, this, [this] { ModemClearCommandChange(); });
  connect(NetList, &QListWidget::itemClicked, this, [this] { NetListClick(); });
  connect(NetList, &QListWidget::itemDoubleClicked, this, [this] { NetListDblClick(); });
  connect(NetName, &QLineEdit::textChanged, this, [this] { NetNameChange(); });
  connect(NetName, &QLineEdit::editingFinished, this, [this] { NetNameExit(); });
  connect(NetTelNo, &QLineEdit::textChanged, this, [this] { NetTelNoChange(); });
  connect(NetLogFileName, &QLineEdit::textChanged, this, [this] { NetLogFileNameChange(); });
  connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
  PaintBox1->OnPaint = [this](QPainter& canvas) {
    PaintBox1Paint();
    PaintScreen(canvas);
  };
  PaintBox1->OnClick = [this] { PaintBox1Click(); };
}
