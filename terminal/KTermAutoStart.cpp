// Transfers that the host's ZMODEM program starts. The receive path spots the
// program's opening header on the serial watcher (ZmodemSpotter.h); the offer
// comes here queued, and the user answers the ordinary file dialog. The
// transfer runs ZMODEM whatever the protocol list shows, and the list's
// choice is the component's again once it has ended. A declined offer tells
// the host's program to give up, so it does not wait for an answer.
#include <QAction>
#include <QApplication>
#include <QComboBox>

#include "Engine.h"
#include "KTerm.h"

namespace {

// Settings line 8: "0" is off; anything else, and the empty line of a file
// from another copy, is on.
constexpr size_t kAutoStartLine = 8;
constexpr char kAutoStartOff[] = "0";

}  // namespace

void TKelTerm::ShowZmodemAutoStart() {
  const bool on = SettingList.Line(kAutoStartLine) != kAutoStartOff;
  ZmodemAutoStart->setChecked(on);
  Session.ZmodemAutoStart = on;
}

void TKelTerm::ZmodemAutoStartClick() {
  if (kAutoStartLine < SettingList.size()) {
    std::string& line = SettingList.Lines[kAutoStartLine];
    line.clear();
    if (ZmodemAutoStart->isChecked()) line.append(kAutoStartOff);
  }
  ShowZmodemAutoStart();
  FocusScreen();
}

// Runs on the serial watcher, right after the receive path.
void TKelTerm::PostZmodemOffer() {
  const TZmodemOffer offer = Session.TakeZmodemOffer();
  if (offer != TZmodemOffer::None)
    QMetaObject::invokeMethod(
        this, [this, offer] { ZmodemOffered(offer); }, Qt::QueuedConnection);
}

// Not while the user answers another dialog (this offer's or one of his
// own), nor while the port closes (the window is disabled then).
void TKelTerm::ZmodemOffered(TZmodemOffer Offer) {
  if (offerShown_ || QApplication::activeModalWidget() || !isEnabled() ||
      !ZmodemAutoStart->isChecked() || !KELCOMM1->IsOpen() || KELCOMM1->TranMode != 0)
    return;
  offerShown_ = true;
  const QString suffix =
      Protocol->currentIndex() == pr_ZMODEM ? QString() : QStringLiteral(" (ZMODEM)");
  KELCOMM1->Protocol = pr_ZMODEM;
  const bool started =
      Offer == TZmodemOffer::Download ? StartChosenDownload(suffix) : StartChosenUpload(suffix);
  offerShown_ = false;
  autoStarted_ = started;
  if (!started) {
    ProtocolChange();
    if (KELCOMM1->IsOpen()) KELCOMM1->Write(CancelSeq.data(), static_cast<int>(CancelSeq.size()));
  }
  FocusScreen();
}

void TKelTerm::ZmodemAutoStartEnded() {
  if (std::exchange(autoStarted_, false)) ProtocolChange();
}
