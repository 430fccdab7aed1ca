// Any bytes into the ZMODEM header hunt and subpacket reader; the port stays
// closed, so waits end with the ring empty. The first byte picks the modes.
#include "FuzzCheck.h"
#include "KelComm.h"
#include "Zmodem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TKELCOMM comm;
  TKelEngine& E = comm.Engine();
  if (size == 0) return 0;
  E.FlushRing();
  E.Deliver(data + 1, std::min<size_t>(size - 1, kRxRingCapacity));  // more would wait for room
  TZFrame Z(E);
  Z.ReadAhead = (data[0] & 1) != 0;
  E.Check.CheckMode = (data[0] & 2) != 0 ? kCheckCrc32 : kCheckCrc16;
  while (ZPending(Z)) {  // each hunt takes at least one byte
    ZHeader header{};
    int32_t value = 0;
    bool bad = false;
    const uint8_t form = ZGetHeader(Z, header, value, bad);
    if (form == ZBIN32) E.Check.CheckMode = kCheckCrc32;
    if (bad || form == CAN) continue;
    uint16_t count = 0;
    uint8_t end = 0;
    ZReceiveData(Z, E.Block.data(), count, end, bad);
    Require(count <= kZMaxData &&
            (bad || end == ZFrameCancelled || (end >= ZCRCE && end <= ZCRCW)));
  }
  return 0;
}
