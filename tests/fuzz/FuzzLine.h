#pragma once
// The transfer targets' line, whose device (FuzzLine.cpp's factory replaces the
// serial library's) drops what the receiver sends. Returns the component,
// opened once, readied to receive into /dev/null with data (cut to the ring)
// as its peer's whole say: it reaches the ring at the receiver's first byte of
// `invites` (at once if empty), and the lines stay on only while bytes wait
// with the peer or in the ring, so every wait after the last byte ends at once.
#include "FuzzCheck.h"
#include "KelComm.h"

TKELCOMM& PlayPeer(const uint8_t* data, size_t size, std::string_view invites);
