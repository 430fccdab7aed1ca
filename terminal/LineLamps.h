#pragma once
// Four small lamps at the status bar's right for the modem lines the port
// reports: CD (carrier), CS (CTS), DR (DSR) and RI (ring). They show the
// reports they are given and poll nothing; all are off while the port is
// closed. Main thread only.

#include <QWidget>
#include <cstdint>

class QLabel;

class TLineLamps : public QWidget {
  Q_OBJECT

 public:
  explicit TLineLamps(QWidget* parent = nullptr);

  // Lights the lamps of the MS_* bits in Modem, puts out the others.
  void Show(uint32_t Modem);
  // The MS_* bits whose lamps are lit.
  uint32_t Lit() const { return lit_; }

 private:
  static constexpr int kLamps = 4;
  QLabel* lamps_[kLamps] = {};
  uint32_t lit_ = 0;
};
