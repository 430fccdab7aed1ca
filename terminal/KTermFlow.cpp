// The flow control of the modem pane, kept per port in the settings, and the
// status bar's word while it holds back text that waits to go out. The word
// follows the line reports of the watcher and the text queued; nothing here
// asks the device.
#include <QComboBox>
#include <QSignalBlocker>
#include <QSpinBox>

#include "ElidedText.h"
#include "FlowLine.h"
#include "KTerm.h"

namespace {

QString CtsHoldText() { return QStringLiteral("CTS がオフのため送信できません."); }

}  // namespace

void TKelTerm::FlowControlChange() {
  std::string& line = SettingList.Lines[kFlowControlLine];
  line = WithPortFlowChoice(line, Port->value(),
                            static_cast<TFlowChoice>(FlowControl->currentIndex()));
}

// Shows the chosen port's word without writing it back.
void TKelTerm::ShowPortFlow() {
  const QSignalBlocker quiet(FlowControl);
  FlowControl->setCurrentIndex(PortFlowChoice(SettingList.Line(kFlowControlLine), Port->value()));
}

// With RTS/CTS and CTS off the device sends nothing, so text handed to it
// would only fill its queue: the text waits in the send queues instead.
bool TKelTerm::OutputHeld(uint32_t Modem) const {
  const bool waiting = !KeyQueue.empty() || !PasteQueue.empty() || KELCOMM1->OutQueueBytes() > 0;
  return waiting && KELCOMM1->IsOpen() && KELCOMM1->OutputFollowsCts() && !(Modem & MS_CTS_ON);
}

void TKelTerm::ShowFlowHold(uint32_t Modem) {
  const bool shown = statusReason_->WholeText() == CtsHoldText();
  if (OutputHeld(Modem) == shown) return;
  statusReason_->SetWholeText(shown ? QString() : CtsHoldText());
}
