// A whole XMODEM reception from a peer whose bytes are arbitrary: the block
// receiver shared with YMODEM (header byte, number and complement, body,
// sum or CRC), its retries and drains, and the receive loop above it. The
// first byte picks the variant (sum 128, CRC 128, CRC 1024) and whether the
// reception streams; the rest is the peer's say, handed over at the first
// invitation. The file goes nowhere.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzCheck.h"
#include "FuzzLine.h"
#include "Protocols.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TKELCOMM& comm = fuzzline::Comm();
  TKelEngine& E = comm.Engine();
  TXState X;
  X.XVariant = static_cast<uint8_t>(data[0] % 3);
  X.GMode = (data[0] & 0x10) != 0;
  comm.Status.FilePath.set("/dev/null");
  comm.Status.TranSize = 0;
  fuzzline::Play(data + 1, size - 1, "C\x15");
  XmodemReceive(E, X, comm.TranResult);
  // Blocks are stored whole, and only blocks that came in full.
  const int32_t stored = comm.Status.TranSize;
  Require(stored % 128 == 0);
  Require(static_cast<size_t>(stored) <= size);
  Require(!E.FileOpen());
  return 0;
}
