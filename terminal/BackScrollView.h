#pragma once
// The rules of the back-scroll pane that need no widget: how the two ends
// of a selection are put in order, which bytes of a row are drawn in which
// colours, which text a selection copies, how a copied text becomes
// characters, and what the back-scroll keys do. The window feeds them its
// state and TextBuffer (under the buffer's lock) and applies the answers.
//
// A column is a byte of the line, as on the terminal screen: a double-byte
// character covers two columns, and a selection may split one.

#include <QString>
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
