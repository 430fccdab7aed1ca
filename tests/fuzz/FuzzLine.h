#pragma once
// The transfer targets' line: our component on end 0 of a virtual line, its
// receive notifications feeding the engine's ring as in a transfer. Returns
// the component readied to receive into /dev/null, with data (cut to the
// ring) as its peer's whole say: sent at the receiver's first byte of
// `invites` (at once if empty), then the peer hangs up, so every wait after
// its last byte ends at once.
#include "FuzzCheck.h"
#include "KelComm.h"

TKELCOMM& PlayPeer(const uint8_t* data, size_t size, std::string_view invites);
