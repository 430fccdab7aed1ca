#pragma once
// How long a transfer waits for its peer. The program always runs with these
// defaults, the lengths its peers expect on the wire. They are fields rather
// than constants so that a test of a silent, dead or babbling peer can shorten
// them instead of sitting through them; the waits for the next byte of a
// block (1 s) are not among them and never change.

struct TTranTimes {
  // The long waits: a peer that says nothing (a reply, the next header, an
  // invitation answered), the hunt for a header in a stream of noise, the
  // drain of a peer that never pauses, the line's return after a cancel and
  // M-LINK's pause before a retry. The reply waits of a whole transfer are
  // counted in these units.
  int PatienceMs = 10000;
  // The M-LINK receiver's pause before its first invitation: time for the
  // user to start the far sender.
  int StartPauseMs = 6000;
};
