// A whole XMODEM reception from any peer; the first byte picks the variant
// (sum 128, CRC 128, CRC 1024) and streaming.
#include "FuzzLine.h"
#include "Protocols.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TKELCOMM& comm = PlayPeer(data + 1, size - 1, "C\x15");
  TKelEngine& E = comm.Engine();
  TXState X;
  X.XVariant = static_cast<uint8_t>(data[0] % 3);
  X.GMode = (data[0] & 0x10) != 0;
  XmodemReceive(E, X, comm.TranResult);
  // Only blocks that came in full are stored, and whole.
  const int32_t stored = comm.Status.TranSize;
  Require(stored % 128 == 0 && static_cast<size_t>(stored) <= size && !E.FileOpen());
  return 0;
}
