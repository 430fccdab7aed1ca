#pragma once
// The line under the transfer targets. Its peer has said all it will say: its
// bytes reach the receive ring when the receiver first sends a byte of
// `invites` (at once when empty), and CTS, DSR and RLSD stay on only while
// bytes wait with the peer or in the ring, so every wait after the last byte
// ends at once. What the receiver sends is dropped. FuzzLine.cpp defines the
// device factory in place of the serial library's.
#include <string_view>

#include "FuzzCheck.h"
#include "KelComm.h"

// The component, opened on first use, readied for a fresh reception into
// /dev/null of data (cut to the ring's capacity).
TKELCOMM& PlayPeer(const uint8_t* data, size_t size, std::string_view invites);
