// A whole YMODEM (or YMODEM-G) reception from a peer whose bytes are
// arbitrary: the header block's name and size, the data blocks cut to the
// announced size, and the end of the batch. The first byte picks streaming;
// the rest is the peer's say, handed over at the first start byte. The file
// goes nowhere.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "FuzzLine.h"
#include "Protocols.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TKELCOMM& comm = fuzzline::Comm();
  TKelEngine& E = comm.Engine();
  TXState X;
  X.GMode = (data[0] & 1) != 0;
  comm.Status.FilePath.set("/dev/null");
  comm.Status.FileSize = kUnknownFileSize;
  comm.Status.TranSize = 0;
  comm.Status.RecvName.clear();
  fuzzline::Play(data + 1, size - 1, "CG");
  YmodemReceive(E, X, comm.TranResult);
  // The name stays within its block; no more is written than announced,
  // and success means every announced byte. A header without a size keeps
  // whole blocks.
  const int32_t announced = comm.Status.FileSize;
  const int32_t written = comm.Status.TranSize;
  Require(comm.Status.RecvName.get().size() <= 1024);
  Require(written >= 0);
  if (announced == kUnknownFileSize) {
    Require(written % 128 == 0 || written <= announced);
  } else {
    Require(announced >= 0 && written <= announced);
    Require(comm.TranResult == 0 || written == announced);
  }
  Require(!E.FileOpen());
  return 0;
}
