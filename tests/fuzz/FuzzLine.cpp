#include "FuzzLine.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "SerialDevice.h"

namespace {

constexpr int kModemPollMs = 10;

struct Peer {
  TKelEngine* engine = nullptr;      // set before the component opens
  std::vector<uint8_t> say;          // the target's thread only
  std::string invites;               // the target's thread only
  std::atomic<bool> holding{false};  // the peer has bytes not yet handed over
};

Peer& ThePeer() {
  static Peer peer;
  return peer;
}

// The ring gets the bytes before the peer stops holding them, so the line
// never looks down while they are on their way.
void Release(Peer& peer) {
  peer.engine->Deliver(peer.say.data(), peer.say.size());
  peer.holding = false;
}

class FuzzDevice : public SerialDevice {
 public:
  void SetupQueues(size_t, size_t) override {}
  bool ApplyDcb(const TDcb& dcb) override {
    dcb_ = dcb;
    return true;
  }
  TDcb Dcb() const override { return dcb_; }
  long ReadSome(uint8_t*, size_t) override { return closed_ ? Fail() : 0; }
  long WriteSome(const uint8_t* buffer, size_t count) override {
    if (closed_) return Fail();
    Peer& peer = ThePeer();
    const auto invited = [&](uint8_t b) {
      return peer.invites.find(static_cast<char>(b)) != std::string::npos;
    };
    if (peer.holding && std::any_of(buffer, buffer + count, invited)) Release(peer);
    return static_cast<long>(count);
  }
  size_t InQueue() override { return 0; }
  size_t OutQueue() override { return 0; }
  uint32_t ModemStatus() override {
    const Peer& peer = ThePeer();
    const bool up = peer.holding || peer.engine->RxCount() > 0;
    return up ? MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON : 0;
  }
  void SetDtr(bool) override {}
  void SetRts(bool) override {}
  void Purge() override {}
  LineErrorCounts ErrorCounts() override { return {}; }
  bool HungUp() override { return false; }
  // The line's state changes with no wake-up of its own: it is polled.
  void WaitEvent(int wakeFd, int timeoutMs, bool) override {
    const int ms = timeoutMs < 0 ? kModemPollMs : std::min(timeoutMs, kModemPollMs);
    pollfd fd{wakeFd, POLLIN, 0};
    poll(&fd, wakeFd >= 0 ? 1 : 0, ms);
  }
  void WaitOutputRoom(int) override {}
  void Close() override { closed_ = true; }

 private:
  static long Fail() {
    errno = EIO;
    return -1;
  }
  TDcb dcb_;
  std::atomic<bool> closed_{false};
};

}  // namespace

std::shared_ptr<SerialDevice> OpenSerialDevice(const std::string&) {
  return std::make_shared<FuzzDevice>();
}

namespace fuzzline {

TKELCOMM& Comm() {
  static TKELCOMM& comm = []() -> TKELCOMM& {
    // The peer is made first so that it outlives the component's watcher.
    Peer& peer = ThePeer();
    static TKELCOMM component;
    peer.engine = &component.Engine();
    component.Open();
    return component;
  }();
  return comm;
}

void Play(const uint8_t* data, size_t size, std::string_view invites) {
  TKELCOMM& comm = Comm();
  Peer& peer = ThePeer();
  peer.holding = true;
  comm.Engine().FlushRing();
  comm.CancelFlag = 0;
  peer.say.assign(data, data + std::min<size_t>(size, kRxRingCapacity));
  peer.invites.assign(invites);
  if (invites.empty()) Release(peer);
}

}  // namespace fuzzline
