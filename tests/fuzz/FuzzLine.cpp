#include "FuzzLine.h"

#include <poll.h>

#include "Engine.h"
#include "SerialDevice.h"

namespace {

// Outlives the component's watcher, which reads only `holding` and the ring.
struct Peer {
  TKelEngine* engine = nullptr;
  std::vector<uint8_t> say;
  std::string invites;
  std::atomic<bool> holding{false};
  void Release() {  // into the ring first, so the line never looks down between
    engine->Deliver(say.data(), say.size());
    holding = false;
  }
} peer;

class FuzzDevice : public SerialDevice {
 public:
  void SetupQueues(size_t, size_t) override {}
  bool ApplyDcb(const TDcb&) override { return true; }
  TDcb Dcb() const override { return {}; }
  long ReadSome(uint8_t*, size_t) override { return 0; }
  long WriteSome(const uint8_t* bytes, size_t count) override {
    const auto invite = [](uint8_t b) { return peer.invites.find(char(b)) != std::string::npos; };
    if (peer.holding && std::any_of(bytes, bytes + count, invite)) peer.Release();
    return static_cast<long>(count);
  }
  size_t InQueue() override { return 0; }
  size_t OutQueue() override { return 0; }
  uint32_t ModemStatus() override {
    const bool up = peer.holding || peer.engine->RxCount() > 0;
    return up ? MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON : 0;
  }
  void SetDtr(bool) override {}
  void SetRts(bool) override {}
  void Purge() override {}
  LineErrorCounts ErrorCounts() override { return {}; }
  bool HungUp() override { return false; }
  void WaitEvent(int wakeFd, int ms, bool) override {  // polls the lines every 10 ms
    pollfd fd{wakeFd, POLLIN, 0};
    poll(&fd, 1, ms < 0 ? 10 : std::min(ms, 10));
  }
  void WaitOutputRoom(int) override {}
  void Close() override {}
};

}  // namespace

std::shared_ptr<SerialDevice> OpenSerialDevice(const std::string&) {
  return std::make_shared<FuzzDevice>();
}

TKELCOMM& PlayPeer(const uint8_t* data, size_t size, std::string_view invites) {
  static TKELCOMM comm;
  if (peer.engine == nullptr) {
    peer.engine = &comm.Engine();
    comm.Open();
  }
  peer.holding = true;  // before the ring empties, as a peer yet to speak
  comm.Engine().FlushRing();
  comm.CancelFlag = 0;
  comm.Status.FilePath.set("/dev/null");
  comm.Status.FileSize = kUnknownFileSize;
  comm.Status.TranSize = 0;
  comm.Status.RecvName.clear();
  peer.say.assign(data, data + std::min<size_t>(size, kRxRingCapacity));
  peer.invites = invites;
  if (invites.empty()) peer.Release();
  return comm;
}
