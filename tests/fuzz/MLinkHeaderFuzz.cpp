// The M-LINK header and the data it announces, from any peer. The reader is
// internal, so the receiving side is compiled in here in place of the library's.
#include "../../transfer/MLinkReceive.cpp"

#include "FuzzLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TKELCOMM& comm = PlayPeer(data, size, "");
  TKelEngine& E = comm.Engine();
  Require(E.CreateForWrite("/dev/null"));
  Reception r{E};
  ReadHeader(r);
  // Fields are cut off past any header's length; only an accepted one takes data.
  Require(comm.Status.RecvName.get().size() <= kMaxField);
  if (r.error == kGood) {
    Require(comm.Status.FileSize > 0);
    ReadData(r);
  }
  E.CloseFile();
  // Never more written than announced, all of it when complete.
  const int32_t written = comm.Status.TranSize;
  Require(written == 0 || written <= comm.Status.FileSize);
  Require(!r.complete || written == comm.Status.FileSize);
  return 0;
}
