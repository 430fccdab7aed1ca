#include "KCommSDg.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>

TCommStatus::TCommStatus(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("ファイル転送"));
  QFont font(QStringLiteral("IPAPGothic"));
  font.setPixelSize(12);
  setFont(font);
  setGeometry(152, 305, 240, 148);
  setFixedSize(240, 148);

  Label2 = AddLabel("プロトコル :", 8, 8);
  Protocol = AddLabel("Protocol", 72, 8);
  Label1 = AddLabel("ファイル名 :", 8, 24);
  File_Name = AddLabel("File_Name", 72, 24);
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
  connect(CANCEL, &QPushButton::clicked, this, [this] { CANCELClick(); });
}

QLabel* TCommStatus::AddLabel(const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), this);
  label->move(left, top);
  label->adjustSize();
  return label;
}

void TCommStatus::CANCELClick() {}
