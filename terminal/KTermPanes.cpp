// The window's panes: toolbar, phone book, modem settings, back-scroll and
// the one-line box, with their sizes and captions.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyleOptionComboBox>
#include <QToolButton>

#include "DeviceCombo.h"
#include "ElidedText.h"
#include "KTerm.h"
#include "PaintBox.h"
#include "ToolGlyphs.h"
#include "WindowFonts.h"

namespace {

constexpr int kToolbarHeight = 35;
constexpr int kPhoneBookHeight = 102;
constexpr int kModemHeight = 50;  // two rows
constexpr int kBackTextHeight = 144;
constexpr int kOneLineHeight = 28;
constexpr int kButtonSize = 25;

QFrame* NewPane(QWidget* parent, int height) {
  auto* pane = new QFrame(parent);
  pane->setFixedHeight(height);
  pane->setFrameShape(QFrame::Panel);
  pane->setFrameShadow(QFrame::Raised);
  pane->setAutoFillBackground(true);
  QPalette face = pane->palette();
  face.setColor(QPalette::Window, QColor(192, 192, 192));
  pane->setPalette(face);
  return pane;
}

QToolButton* NewButton(QWidget* parent, TToolGlyph glyph, const char* hint, bool toggle) {
  auto* button = new QToolButton(parent);
  button->setIcon(ToolGlyph(glyph));
  button->setToolTip(QString::fromUtf8(hint));
  button->setCheckable(toggle);
  button->setAutoRaise(false);
  button->setFixedSize(kButtonSize, kButtonSize);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

QLabel* NewLabel(QWidget* parent, const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

// The room the closed list gives its current item's text, which is drawn
// 2 px right of the field's left edge.
int ItemTextRoom(const QComboBox* list) {
  QStyleOptionComboBox option;
  option.initFrom(list);
  option.rect = QRect(QPoint(0, 0), QSize(list->maximumWidth(), list->sizeHint().height()));
  const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, list);
  return field.width() - 2;
}

QStringList ProtocolNameList() {
  QStringList names;
  for (const char* name : ProtocolNames) names << QString::fromUtf8(name);
  return names;
}

QFont PaneFont() {
  QFont font(QStringLiteral("IPAGothic"));
  font.setPixelSize(13);
  return font;
}

}  // namespace

void TKelTerm::BuildToolbar() {
  Panel1 = NewPane(centralWidget(), kToolbarHeight);
  Panel3 = new QFrame(Panel1);
  auto* outer = new QHBoxLayout(Panel1);
  outer->setContentsMargins(2, 2, 2, 2);
  outer->addWidget(Panel3);
  auto* row = new QHBoxLayout(Panel3);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(1);

  PortOC = NewButton(Panel3, TToolGlyph::Port, "ポートのオープン、クローズ", true);
  KeyAccept = NewButton(Panel3, TToolGlyph::Keyboard, "キーボードからの入力許可", true);
  SpeedButton4 = NewButton(Panel3, TToolGlyph::BackScroll, "バックスクロール", true);
  SpeedButton5 = NewButton(Panel3, TToolGlyph::OneLine, "１行入力", true);
  SpeedButton12 = NewButton(Panel3, TToolGlyph::OneLine, "ステータスバーの表示の有無", true);
  SpeedButton12->setIcon(QIcon());
  SpeedButton12->setText(QStringLiteral("Status"));
  SpeedButton12->setFixedWidth(41);
  SpeedButton12->setChecked(true);
  SpeedButton6 = NewButton(Panel3, TToolGlyph::Clipboard, "クリップボードの内容を送信", false);
  SpeedButton7 = NewButton(Panel3, TToolGlyph::Upload, "アップロード", false);
  SpeedButton10 = NewButton(Panel3, TToolGlyph::Download, "ダウンロード", false);
  for (QToolButton* b : {PortOC, KeyAccept, SpeedButton4, SpeedButton5, SpeedButton12})
    row->addWidget(b);
  row->addSpacing(4);
  for (QToolButton* b : {SpeedButton6, SpeedButton7, SpeedButton10}) row->addWidget(b);
  row->addSpacing(4);

  Label2 = new QLabel(QStringLiteral("ﾌﾟﾛﾄｺﾙ :"), Panel3);
  Protocol = new QComboBox(Panel3);
  Protocol->setFixedWidth(137);
  Protocol->setFont(
      NarrowedToFit(ProportionalGothic(13), ProtocolNameList(), ItemTextRoom(Protocol)));
  Protocol->setToolTip(QStringLiteral("ファイル転送に使用するプロトコルの指定"));
  Protocol->setFocusPolicy(Qt::NoFocus);
  row->addWidget(Label2);
  row->addWidget(Protocol);
  row->addSpacing(4);

  SpeedButton1 = NewButton(Panel3, TToolGlyph::Modem, "モデムの設定", true);
  SpeedButton2 = NewButton(Panel3, TToolGlyph::PhoneBook, "電話帳を開く", true);
  SpeedButton2->setFixedWidth(49);
  row->addWidget(SpeedButton1);
  row->addWidget(SpeedButton2);
  row->addSpacing(4);

  // The room up to the logo is the log name's; a longer one is elided. The
  // fixed-pitch Gothic of the phone book, where its template is typed, fits
  // a name with the date in it.
  LogFileName = new TElidedLabel(Panel3);
  LogFileName->setFont(PaneFont());
  LogFileName->SetWholeText(QStringLiteral("KEL"));
  LogFileName->setAutoFillBackground(true);
  QPalette log = LogFileName->palette();
  log.setColor(QPalette::Window, QColor(128, 255, 128));
  log.setColor(QPalette::WindowText, QColor(0, 0, 128));
  LogFileName->setPalette(log);
  row->addWidget(LogFileName);
  row->addStretch(1);

  Label3 = new QLabel(QStringLiteral("Ｋ"), Panel3);
  QFont logo = Label3->font();
  logo.setPixelSize(24);
  logo.setBold(true);
  Label3->setFont(logo);
  Label3->setAlignment(Qt::AlignCenter);
  Label3->setFixedSize(29, 29);
  Label3->setAutoFillBackground(true);
  QPalette red = Label3->palette();
  red.setColor(QPalette::Window, QColor(0, 0, 255));
  red.setColor(QPalette::WindowText, QColor(255, 0, 0));
  Label3->setPalette(red);
  row->addWidget(Label3);
}

void TKelTerm::BuildPhoneBookPane() {
  NetSettingPanel = NewPane(centralWidget(), kPhoneBookHeight);
  NetSettingPanel->setFont(PaneFont());
  NetList = new QListWidget(NetSettingPanel);
  NetList->setGeometry(2, 2, 213, kPhoneBookHeight - 4);
  DialButton = new QPushButton(QStringLiteral("接続"), NetSettingPanel);
  DialButton->setGeometry(220, 4, 89, 41);
  AddNet = new QPushButton(QStringLiteral("追加"), NetSettingPanel);
  AddNet->setGeometry(220, 48, 89, 25);
  DeleteNet = new QPushButton(QStringLiteral("抹消"), NetSettingPanel);
  DeleteNet->setGeometry(220, 74, 89, 25);
  Label7 = NewLabel(NetSettingPanel, "ネット名 :", 316, 8);
  NetName = new TElidedLineEdit(QStringLiteral("NetName"), NetSettingPanel);
  NetName->setGeometry(414, 4, 230, 21);
  Label8 = NewLabel(NetSettingPanel, "電話番号 :", 316, 32);
  NetTelNo = new TElidedLineEdit(QStringLiteral("NetTelNo"), NetSettingPanel);
  NetTelNo->setGeometry(414, 28, 230, 21);
  Label9 = NewLabel(NetSettingPanel, "ログファイル :", 316, 56);
  NetLogFileName = new TElidedLineEdit(QStringLiteral("%Y%M%D.LOG"), NetSettingPanel);
  NetLogFileName->setGeometry(414, 52, 142, 21);
  Label10 = NewLabel(NetSettingPanel, "%Y 年  %M 月  %D 日  %H 時  %m 分", 316, 80);
  BitBtn4 = new QPushButton(QStringLiteral("閉じる"), NetSettingPanel);
  BitBtn4->setGeometry(562, 53, 81, 19);
  for (QWidget* w : {static_cast<QWidget*>(DialButton), static_cast<QWidget*>(DeleteNet),
                     static_cast<QWidget*>(NetName), static_cast<QWidget*>(NetTelNo),
                     static_cast<QWidget*>(NetLogFileName)})
    w->setEnabled(false);
}

void TKelTerm::BuildModemPane() {
  ModemSettingPanel = NewPane(centralWidget(), kModemHeight);
  ModemSettingPanel->setFont(PaneFont());
  // Packed tighter than the other panes to leave room for the device, whose
  // list drops down wider than its box.
  Label1 = NewLabel(ModemSettingPanel, "ﾎﾟｰﾄ :", 4, 6);
  Port = new QSpinBox(ModemSettingPanel);
  Port->setRange(1, 4);
  Port->setValue(1);
  Port->setGeometry(45, 2, 40, 22);
  Label4 = NewLabel(ModemSettingPanel, "通信速度 :", 89, 6);
  BaudRate = new QComboBox(ModemSettingPanel);
  BaudRate->setEditable(true);
  BaudRate->setInsertPolicy(QComboBox::NoInsert);
  BaudRate->addItems({QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("9600"),
                      QStringLiteral("19200"), QStringLiteral("38400"), QStringLiteral("57600")});
  BaudRate->setEditText(QStringLiteral("38400"));
  BaudRate->setGeometry(156, 2, 70, 22);
  Label5 = NewLabel(ModemSettingPanel, "ﾀﾞｲﾔﾙｺﾏﾝﾄﾞ :", 230, 6);
  DialCommand = new TElidedLineEdit(QStringLiteral("ATD"), ModemSettingPanel);
  DialCommand->setGeometry(310, 2, 44, 22);
  Label6 = NewLabel(ModemSettingPanel, "初期化ｺﾏﾝﾄﾞ :", 358, 6);
  ModemClearCommand = new TElidedLineEdit(QString(), ModemSettingPanel);
  ModemClearCommand->setGeometry(445, 2, 52, 22);
  Label11 = NewLabel(ModemSettingPanel, "デバイス :", 501, 6);
  auto* devices = new TDeviceCombo(ModemSettingPanel);
  devices->setGeometry(568, 2, 83, 22);
  devices->view()->setMinimumWidth(360);
  devices->OnDropDown = [this] { PortDeviceDropDown(); };
  connect(devices, &QComboBox::editTextChanged, this, [this] { PortDeviceChange(); });
  PortDevice = devices;
  Label12 = NewLabel(ModemSettingPanel, "フロー制御 :", 4, 30);
  FlowControl = new QComboBox(ModemSettingPanel);
  FlowControl->addItems(
      {QStringLiteral("RTS/CTS"), QStringLiteral("なし"), QStringLiteral("XON/XOFF")});
  FlowControl->setGeometry(89, 26, 90, 22);
}

void TKelTerm::BuildBackScrollPane() {
  BackText = NewPane(centralWidget(), kBackTextHeight);
  BackText->setFrameShadow(QFrame::Sunken);
  BackText->setLineWidth(1);
  QPalette white = BackText->palette();
  white.setColor(QPalette::Window, Qt::white);
  BackText->setPalette(white);
  BackText->setFocusPolicy(Qt::TabFocus);
  // BackTextResize places the text area and the scroll bar.
  PaintBox2 = new TPaintBox(BackText);
  BackTextScrollBar = new QScrollBar(Qt::Vertical, BackText);
  BackTextScrollBar->resize(17, kBackTextHeight);
  BackTextScrollBar->setFocusPolicy(Qt::NoFocus);
  BackTextScrollBar->setRange(0, 0);

  // Stored as a form would store it: the 6 px height, read before the kind,
  // survives the kind's 5 px through the after-loading step.
  Separater1 = new TSeparater(centralWidget());
  Separater1->setFixedHeight(6);
  Separater1->SetKind(Tkind::Vertical);
  Separater1->SetColor(QColor(0, 0, 128));
  Separater1->TopMgn = 1;
  Separater1->EndMgn = 6;
  Separater1->setFrameShape(QFrame::NoFrame);
  Separater1->LineWidth = 3;
  Separater1->Loaded();
  Separater1->OnStartDrag = [this](QObject*) { Separater1StartDrag(); };
  Separater1->OnEndDrag = [this](QObject* Sender, int32_t Pos, int32_t Cg) {
    Separater1EndDrag(Sender, Pos, Cg);
  };
  ConnectBackScroll();
}

void TKelTerm::BuildOneLinePane() {
  Panel2 = NewPane(centralWidget(), kOneLineHeight);
  Edit1 = new QLineEdit(Panel2);
  SpeedButton3 = new QToolButton(Panel2);
  SpeedButton3->setText(QStringLiteral("送信"));
  SpeedButton3->setFocusPolicy(Qt::NoFocus);
  auto* row = new QHBoxLayout(Panel2);
  row->setContentsMargins(2, 2, 2, 2);
  row->addWidget(Edit1, 1);
  row->addWidget(SpeedButton3);
}
