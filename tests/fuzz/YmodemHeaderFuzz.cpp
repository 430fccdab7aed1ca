// A whole YMODEM (YMODEM-G by the first byte) reception from any peer.
#include "FuzzLine.h"
#include "Protocols.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TKELCOMM& comm = PlayPeer(data + 1, size - 1, "CG");
  TKelEngine& E = comm.Engine();
  TXState X;
  X.GMode = (data[0] & 1) != 0;
  YmodemReceive(E, X, comm.TranResult);
  // The name fits its block; never more written than announced, all of it on
  // success; with no size announced, whole blocks.
  const int32_t announced = comm.Status.FileSize, written = comm.Status.TranSize;
  Require(comm.Status.RecvName.get().size() <= 1024 && written >= 0);
  if (announced == kUnknownFileSize)
    Require(written % 128 == 0 || written <= announced);
  else
    Require(announced >= 0 && written <= announced &&
            (comm.TranResult == 0 || written == announced));
  Require(!E.FileOpen());
  return 0;
}
