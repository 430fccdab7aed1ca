#pragma once
// The rules of the back-scroll pane that speak the toolkit's terms: how a
// copied text becomes characters, and what the back-scroll keys do. The
// selection itself is in Selection.h.

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Selection.h"

// A copied text as characters, line by line: a byte that a split double-byte
// character left alone becomes U+FFFD, and the CR LF between lines stays.
QString DecodeCopiedText(std::string_view Bytes);

// What a back-scroll key does, given the pane's state: whether it is used
// (it then never reaches the host), whether the pane opens or closes first,
// the new position, and whether the focus goes back to the screen.
enum class TPaneChange { Keep, Show, Hide };
struct TBackKeyResult {
  bool Used = false;
  TPaneChange Pane = TPaneChange::Keep;
  int32_t Position = 0;
  bool FocusScreen = false;
};
// Key is a Qt key code; Position is the scroll position, Count the number of
// lines and Page the pane's whole rows plus one.
TBackKeyResult BackScrollKey(int Key, bool Shown, int32_t Position, int32_t Count, int32_t Page);
