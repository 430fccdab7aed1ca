#pragma once
// TZmodemSpotter watches the terminal's received bytes for the hex header
// with which a host's ZMODEM program opens a transfer: ZRQINIT from a sender
// (the host offers a file: we download) or ZRINIT from a receiver (the host
// waits for a file: we upload). A header counts only when it is whole, its
// digits hex and its CRC right; it may arrive split across notifications
// at any byte.
//
// A host's program repeats its header until it hears an answer. Once a
// header has been reported, the spotter stays quiet until the line carries
// text again (a printable ASCII character outside any header): the repeats
// of one program carry nothing else (a header ends in CR, LF with its high
// bit set and XON), while the shell's prompt after the program has given up
// or finished arms the spotter for the next one. This needs no clock, and a
// declined offer is not put to the user again by the same program.
//
// Plain state, no threads: the receive path feeds it on the serial watcher.

#include <cstddef>
#include <cstdint>
#include <string>

enum class TZmodemOffer : uint8_t { None, Download, Upload };

class TZmodemSpotter {
 public:
  // Feeds received bytes; says what the last header completed among them
  // offers, if any.
  TZmodemOffer Feed(const uint8_t* Data, size_t Size);

 private:
  TZmodemOffer Step(uint8_t b);
  TZmodemOffer Complete();

  std::string matched_;  // the header's bytes so far: "**", ZDLE, 'B', digits
  bool spent_ = false;   // a header was reported and no text came since
};
