// Arbitrary bytes through the receive ring into the header hunt and the
// subpacket reader, as a peer could send them. The component's port is
// closed, so every wait ends as soon as the ring is empty and nothing is
// sent. The first byte picks the check mode and the way bytes are taken.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "KelComm.h"
#include "Zmodem.h"

namespace {

// The ring holds one byte less than its size; more would wait for room.
constexpr size_t kMaxInput = kRxRingCapacity;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TKELCOMM comm;
  TKelEngine& E = comm.Engine();
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  E.FlushRing();
  E.Deliver(data + 1, std::min(size - 1, kMaxInput));
  TZFrame Z(E);
  Z.ReadAhead = (mode & 1) != 0;
  E.Check.CheckMode = (mode & 2) != 0 ? kCheckCrc32 : kCheckCrc16;
  // Each hunt takes at least one byte while any wait.
  while (ZPending(Z)) {
    ZHeader header{};
    int32_t value = 0;
    bool bad = false;
    const uint8_t form = ZGetHeader(Z, header, value, bad);
    if (form == ZBIN32) E.Check.CheckMode = kCheckCrc32;
    if (bad || form == CAN) continue;
    uint16_t count = 0;
    uint8_t frameEnd = 0;
    ZReceiveData(Z, E.Block.data(), count, frameEnd, bad);
    Require(count <= kZMaxData);
    Require(bad || frameEnd == ZFrameCancelled || (frameEnd >= ZCRCE && frameEnd <= ZCRCW));
  }
  return 0;
}
