// Devices that come and go: the modem pane's list follows them, a session
// whose device vanishes ends as a carrier loss does, and the port opens again
// by itself when the same device comes back soon after.

#include "DeviceFollow.h"
#include "ElidedText.h"
#include "KTerm.h"

void TKelTerm::SetUpDeviceFollow() {
  DeviceFollow = new TDeviceFollow(this);
  DeviceFollow->OnChange = [this] { DevicesChanged(); };
}

// Runs on every change in the device folders. A close under way decides
// nothing: the session it ends is already on its way out.
void TKelTerm::DevicesChanged() {
  PortDeviceDropDown();
  if (closingSession_ || !isEnabled()) return;
  if (KELCOMM1->IsOpen()) {
    const std::string path = KELCOMM1->ResolvedDevicePath();
    if (TDeviceFollow::Followed(path) && !TDeviceFollow::Present(path)) DeviceVanished();
  } else if (!DeviceFollow->Returned().empty()) {
    ReopenReturnedDevice();
  }
}

// The carrier-loss close, with the reason in the bar's second field; the
// path is then awaited.
void TKelTerm::DeviceVanished() {
  const std::string path = KELCOMM1->ResolvedDevicePath();
  SetStatusText(QStringLiteral("回線が切れました."));
  CloseSession(true);
  statusReason_->SetWholeText(QStringLiteral("デバイスが外されました."));
  DeviceFollow->Vanished(path);
}

// Opens the port of the vanished session again; it does not dial. A device
// that does not open yet (its group still being set) is tried again at the
// next change.
void TKelTerm::ReopenReturnedDevice() {
  KeyQueue.clear();
  PasteQueue.clear();
  const size_t firstLogLine = Session.LogFirstLine();
  try {
    OpenPort();
  } catch (...) {
    return;
  }
  StartSession(firstLogLine, QStringLiteral("デバイスが戻りました. ポートを開きました."));
}
