#include "Selection.h"

#include <algorithm>
#include <utility>

#include "TextBuffer.h"

namespace {

// The line followed by Pad blanks, from byte From on, at most Take bytes.
std::string Padded(std::string_view line, size_t pad, int64_t from, int64_t take) {
  if (from < 0) from = 0;
  if (take <= 0) return std::string();
  std::string text(line);
  text.append(pad, ' ');
  if (static_cast<size_t>(from) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(from), static_cast<size_t>(take));
}

// Bytes From to To (both included) of a line, fewer where it is shorter.
std::string_view Bytes(std::string_view line, int64_t from, int64_t to) {
  from = std::max<int64_t>(from, 0);
  if (to < from || static_cast<size_t>(from) >= line.size()) return {};
  return line.substr(static_cast<size_t>(from), static_cast<size_t>(to - from + 1));
}

}  // namespace

TSelEnds OrderSelEnds(int32_t AnchorLine, int32_t AnchorCol, int32_t CurLine, int32_t CurCol,
                      int32_t TopLine) {
  TSelEnds e{AnchorLine, AnchorCol, CurLine, CurCol};
  if (e.L1 > e.L2) {
    std::swap(e.L1, e.L2);
    std::swap(e.C1, e.C2);
  }
  if (e.L1 == e.L2 && e.C2 < e.C1) std::swap(e.C1, e.C2);
  if (e.L1 < TopLine && TopLine <= e.L2) {
    e.L1 = TopLine;
    e.C1 = 0;
  }
  return e;
}

std::vector<TBackRun> BackRowRuns(std::string_view Line, int32_t Index, const TSelEnds* Sel) {
  std::vector<TBackRun> runs;
  if (!Sel || (Index != Sel->L1 && Index != Sel->L2)) {
    const bool between = Sel && Sel->L1 < Index && Index < Sel->L2;
    runs.push_back({0, Padded(Line, 84, 0, kBackColumns), between});
    return runs;
  }
  const int64_t c1 = Sel->C1;
  const int64_t c2 = Sel->C2;
  if (Index == Sel->L1) {
    runs.push_back({0, Padded(Line, 90, 0, c1), false});
    runs.push_back({Sel->C1, Padded(Line, 84, c1, kBackColumns), true});
  }
  if (Index == Sel->L2) {
    const int64_t s = Sel->L2 == Sel->L1 ? c1 : 0;
    const int64_t take = std::min<int64_t>(c2 - s + 1, kBackColumns);
    runs.push_back({static_cast<int32_t>(s), Padded(Line, 105, s, take), true});
    runs.push_back({Sel->C2 + 1, Padded(Line, 84, c2 + 1, kBackColumns - c2), false});
  }
  std::erase_if(runs, [](const TBackRun& r) { return r.Bytes.empty(); });
  return runs;
}

std::string SelectedBytes(const TTextBuffer& Buffer, TSelEnds Ends) {
  const int64_t last = static_cast<int64_t>(Buffer.Count()) - 1;
  const auto lineAt = [&](int64_t i) { return Buffer.Line(static_cast<size_t>(i)); };
  const int64_t l1 = std::clamp<int64_t>(Ends.L1, 0, last);
  const int64_t l2 = std::clamp<int64_t>(Ends.L2, 0, last);
  if (l1 == l2) return std::string(Bytes(lineAt(l1), Ends.C1, Ends.C2));
  std::string text(Bytes(lineAt(l1), Ends.C1, int64_t{Ends.C1} + kBackColumns - 1));
  text += "\r\n";
  for (int64_t i = l1 + 1; i < l2; ++i) {
    text += lineAt(i);
    text += "\r\n";
  }
  text += Bytes(lineAt(l2), 0, Ends.C2);
  text += "\r\n";
  return text;
}
