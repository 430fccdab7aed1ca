// The M-LINK receiver's header reader and the data it then takes, fed by a
// peer whose bytes are arbitrary and handed over at once. The reader has
// internal linkage and the receive routine first pauses six seconds for the
// user, so this target compiles the receiving side in and calls the reader
// directly; the program's own copy of the receiving side takes the place of
// the library's. The file goes nowhere.

#include "../../transfer/MLinkReceive.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzCheck.h"
#include "FuzzLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TKELCOMM& comm = fuzzline::Comm();
  TKelEngine& E = comm.Engine();
  comm.Status.FileSize = kUnknownFileSize;
  comm.Status.TranSize = 0;
  comm.Status.RecvName.clear();
  Require(E.CreateForWrite("/dev/null"));
  fuzzline::Play(data, size, "");
  Reception r{E};
  ReadHeader(r);
  // A field is cut off once it outgrows any header; a refused header
  // takes no data.
  Require(comm.Status.RecvName.get().size() <= kMaxField);
  if (r.error == kGood) {
    Require(comm.Status.FileSize > 0);
    ReadData(r);
  }
  E.CloseFile();
  // What was written came in whole chunks and never exceeds the size.
  const int32_t written = comm.Status.TranSize;
  Require(written == 0 || written <= comm.Status.FileSize);
  Require(!r.complete || written == comm.Status.FileSize);
  return 0;
}
