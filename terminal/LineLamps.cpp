#include "LineLamps.h"

#include <QHBoxLayout>
#include <QLabel>

#include "SerialDevice.h"

namespace {

struct TLamp {
  const char* Caption;
  const char* Name;  // the tool tip
  uint32_t Bit;
};

const TLamp kLampLines[] = {
    {"CD", "キャリア検出 (CD)", MS_RLSD_ON},
    {"CS", "送信可 (CTS)", MS_CTS_ON},
    {"DR", "データセットレディ (DSR)", MS_DSR_ON},
    {"RI", "被呼表示 (RI)", MS_RING_ON},
};

const QColor kLitColor(0, 200, 0);
const QColor kOffColor(150, 150, 150);

}  // namespace

TLineLamps::TLineLamps(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 0, 2, 0);
  row->setSpacing(2);
  for (int i = 0; i < kLamps; ++i) {
    QLabel* lamp = new QLabel(QString::fromLatin1(kLampLines[i].Caption), this);
    lamp->setToolTip(QString::fromUtf8(kLampLines[i].Name));
    lamp->setAlignment(Qt::AlignCenter);
    lamp->setAutoFillBackground(true);
    lamp->setFixedWidth(lamp->fontMetrics().horizontalAdvance(QStringLiteral("MM")) + 4);
    row->addWidget(lamp);
    lamps_[i] = lamp;
  }
  Show(0);
}

void TLineLamps::Show(uint32_t Modem) {
  lit_ = 0;
  for (int i = 0; i < kLamps; ++i) {
    const bool on = (Modem & kLampLines[i].Bit) != 0;
    if (on) lit_ |= kLampLines[i].Bit;
    QPalette face = lamps_[i]->palette();
    face.setColor(QPalette::Window, on ? kLitColor : kOffColor);
    face.setColor(QPalette::WindowText, Qt::black);
    lamps_[i]->setPalette(face);
  }
}
