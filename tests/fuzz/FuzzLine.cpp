#include "FuzzLine.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "Engine.h"
#include "VirtualLine.h"

namespace {

struct Line {
  Line() {
    comm.SetDevicePath("virtual:fuzz");
    comm.OnCommReceive = [this](TComm* port, uint16_t n) { comm.Engine().TranReceive(port, n); };
    comm.Open();
  }
  std::shared_ptr<VirtualLine> line = VirtualLine::Create("fuzz");
  VirtualLine::End& peer = line->end(1);
  TKELCOMM comm;
  std::thread speaker;
};

void Speak(VirtualLine::End& peer, const std::string& say, const std::string& invites) {
  for (std::string b; !invites.empty();) {
    b = peer.ReadFor(1, std::chrono::milliseconds(500));
    if (b.empty() || invites.find(b[0]) != std::string::npos) break;
  }
  peer.Write(say);
  peer.SetRts(false);
  peer.SetDtr(false);
}

}  // namespace

TKELCOMM& PlayPeer(const uint8_t* data, size_t size, std::string_view invites) {
  static Line& l = *new Line;  // the watcher may outlive the last input
  [[maybe_unused]] static const int joinAtExit = std::atexit([] { l.speaker.join(); });
  if (l.speaker.joinable()) l.speaker.join();
  l.peer.Read();
  l.peer.SetRts(true);
  l.peer.SetDtr(true);
  while ((~l.comm.LineState() & (MS_CTS_ON | MS_RLSD_ON)) != 0) std::this_thread::yield();
  TKELCOMM& comm = l.comm;
  comm.Engine().FlushRing();
  comm.Engine().BeginFeed();
  comm.CancelFlag = 0;
  comm.Status.FilePath.set("/dev/null");
  comm.Status.FileSize = kUnknownFileSize;
  comm.Status.TranSize = 0;
  comm.Status.RecvName.clear();
  const std::string say(reinterpret_cast<const char*>(data),
                        std::min<size_t>(size, kRxRingCapacity));
  l.speaker = std::thread(Speak, std::ref(l.peer), say, std::string(invites));
  return comm;
}
