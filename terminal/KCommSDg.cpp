#include "KCommSDg.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPushButton>

#include "ElidedText.h"
#include "KelComm.h"
#include "TransferView.h"
#include "WindowFonts.h"

namespace {

constexpr int kWidth = 240;
constexpr int kMargin = 8;
constexpr int kValueLeft = 72;  // the protocol and the file lines

void SetCaption(QLabel* label, const QString& text) {
  if (label->text() == text) return;
  label->setText(text);
  label->adjustSize();
}

void SetCaption(TElidedLabel* label, const QString& text) {
  if (label->WholeText() != text) label->SetWholeText(text);
}

// Every protocol line the dialog can show: each protocol, either way.
QStringList ProtocolLines() {
  QStringList lines;
  for (int protocol = 0; protocol < kProtocolCount; ++protocol) {
    for (uint8_t mode : {1, 2}) {
      TTransferSnapshot s;
      s.TranMode = mode;
      s.Protocol = static_cast<protType>(protocol);
      lines << TransferTexts(s, 0).Protocol;
    }
  }
  return lines;
}

}  // namespace

TCommStatus::TCommStatus(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("ファイル転送"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  // Left visible when the main window closes, it must not keep the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFont(NarrowedToFit(ProportionalGothic(12), ProtocolLines(), kWidth - kValueLeft - kMargin));
  setGeometry(152, 305, kWidth, 148);
  setFixedSize(kWidth, 148);

  Label2 = AddLabel("プロトコル :", 8, 8);
  Protocol = AddLabel("Protocol", kValueLeft, 8);
  Label1 = AddLabel("ファイル名 :", 8, 24);
  File_Name = new TElidedLabel(this);
  File_Name->setGeometry(kValueLeft, 24, kWidth - kValueLeft - kMargin, Label1->height());
  File_Name->SetWholeText(QStringLiteral("File_Name"));
  Label3 = AddLabel("ファイルサイズ :", 8, 48);
  File_Size = AddLabel("File_Size", 96, 48);
  Label6 = AddLabel("転送スピード :", 8, 64);
  TranSpeed = AddLabel("TranSpeed", 96, 64);
  Label4 = AddLabel("転送時間 :", 8, 80);
  TranTime = AddLabel("TranTime", 96, 80);
  Label5 = AddLabel("転送終了予測 :", 8, 96);
  TranTimeLeft = AddLabel("TranTimeLeft", 96, 96);

  CANCEL = new QPushButton(QStringLiteral("中止"), this);
  CANCEL->setGeometry(48, 120, 105, 25);
  // Return in the dialog must not stop a transfer by accident.
  CANCEL->setAutoDefault(false);
  connect(CANCEL, &QPushButton::clicked, this, [this] { CANCELClick(); });
}

QLabel* TCommStatus::AddLabel(const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), this);
  label->move(left, top);
  label->adjustSize();
  return label;
}

void TCommStatus::CANCELClick() {
  if (transfer_) transfer_->RequestCancel();
}

void TCommStatus::ShowTexts(const TTransferTexts& texts) {
  SetCaption(File_Name, texts.File_Name);
  SetCaption(File_Size, texts.File_Size);
  SetCaption(TranSpeed, texts.TranSpeed);
  SetCaption(TranTime, texts.TranTime);
  SetCaption(TranTimeLeft, texts.TranTimeLeft);
  SetCaption(Protocol, texts.Protocol);
}

void TCommStatus::closeEvent(QCloseEvent* event) { event->ignore(); }
