#pragma once
// The selection of the back-scroll pane: how its two ends are put in order,
// which bytes of a row are drawn in which colours, and which text it copies.
// A column is a byte of the line, as on the terminal screen: a double-byte
// character covers two columns, and a selection may split one.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TTextBuffer;

// The ends of a selection in order: (L1, C1) comes first.
struct TSelEnds {
  int32_t L1 = 0;
  int32_t C1 = 0;
  int32_t L2 = 0;
  int32_t C2 = 0;
};

// Orders the anchor and the current cell. A selection whose start has
// scrolled out above TopLine while its end is still at or below it starts at
// (TopLine, 0): what is out of sight is neither highlighted nor copied.
TSelEnds OrderSelEnds(int32_t AnchorLine, int32_t AnchorCol, int32_t CurLine, int32_t CurCol,
                      int32_t TopLine);

// One stretch of a drawn row: Bytes drawn from column Column on, selected
// (yellow on blue) or normal (black on white).
struct TBackRun {
  int32_t Column = 0;
  std::string Bytes;
  bool Selected = false;
};

// The pane shows at most this many columns of a line.
constexpr int32_t kBackColumns = 100;

// The runs of the row that shows line Index, whose text is Line; Sel is null
// when nothing is selected.
std::vector<TBackRun> BackRowRuns(std::string_view Line, int32_t Index, const TSelEnds* Sel);

// The bytes a selection copies: within one line the bytes C1 to C2; over
// several lines up to 100 bytes of the first from C1, the lines between
// whole, and bytes 0 to C2 of the last, each followed by CR LF. Line numbers
// beyond the buffer's ends are taken as its first or last line. The caller
// holds the buffer's lock.
std::string SelectedBytes(const TTextBuffer& Buffer, TSelEnds Ends);
