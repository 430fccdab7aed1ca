#pragma once
// The line under the transfer targets: a component whose device plays a
// peer that has already said everything it will say. The peer hands its
// bytes to the engine's receive ring when the receiver first invites it (or
// at once); CTS, DSR and RLSD stay on while the peer still holds bytes or
// the ring does. So a receiver reads the input exactly as a peer sent it,
// and every wait after the last byte ends at once, as on a line that has
// gone down. Nothing reaches a real device; what the receiver sends is
// dropped.
//
// The device is this program's own: the file defines the device factory,
// which takes the place of the serial library's for every program that
// links it.
//
// Threading: the target's thread plays inputs and runs the receiver; the
// component's watcher only reads the line's state (an atomic and the ring's
// count, which has its own lock).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "KelComm.h"

namespace fuzzline {

// The component on the fuzz line, opened on first use.
TKELCOMM& Comm();

// Empties the ring and makes data the peer's whole say. The bytes go into
// the ring at the receiver's first write of a byte in invites, or at once
// when invites is empty. At most the ring's capacity is kept.
void Play(const uint8_t* data, size_t size, std::string_view invites);

}  // namespace fuzzline
