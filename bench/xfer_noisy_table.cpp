// ZMODEM on noisy lines: rows are the relay's error model and rate (and a
// line with long latency), columns the four pairings of our engine and
// lrzsz, lrzsz's own pair being the yardstick. A noisy cell is the median
// efficiency over several seeds of the relay's errors; a clean or slow line
// is the same whatever the seed, so it runs once.
//
//   xfer_bench noisy [rows=LIST] [pairs=LIST] [seeds=LIST] [size=BYTES] [slack=N]
//
//   rows   clean,byte-1e-5,byte-1e-4,bit-1e-5,bit-1e-4,latency (all by default)
//   pairs  ours-ours,ours-rz,sz-ours,sz-rz (all by default)
//   seeds  1,2,3 by default
//   size   1048576 by default; rows at 1e-4 send a quarter of it
//   slack  10 by default: a run's deadline is 60 s plus this many times the
//          clean line's time (287 s for 256 KiB: lrzsz's own pair needs
//          about 180 s at 1e-4 per byte)
//
// A run that fails counts as slower than any that succeeds, and one that
// has not ended by its deadline as failed; a cell says how many of its runs
// were good when not all were. Each run and each cell goes to stderr as
// soon as it is known; the tables go to stdout at the end.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "xfer_bench.h"

namespace {

struct Row {
  const char* key;
  const char* label;
  double rate;  // of errors, per byte or per bit
  bool perByte;
  int latencyMs;
  size_t divisor;  // of the file size
};

constexpr Row kRows[] = {
    {"clean", "clean line", 0, false, 0, 1},
    {"byte-1e-5", "per byte, P = 1e-5", 1e-5, true, 0, 1},
    {"byte-1e-4", "per byte, P = 1e-4", 1e-4, true, 0, 4},
    {"bit-1e-5", "per bit, P = 1e-5", 1e-5, false, 0, 1},
    {"bit-1e-4", "per bit, P = 1e-4", 1e-4, false, 0, 4},
    {"latency", "50 ms one-way latency", 0, false, 50, 1},
};

struct Column {
  const char* key;
  const char* label;
  Direction direction;
};

constexpr Column kColumns[] = {
    {"ours-ours", "ours → ours", Direction::OursToOurs},
    {"ours-rz", "ours → rz", Direction::OursToLrzsz},
    {"sz-ours", "sz → ours", Direction::LrzszToOurs},
    {"sz-rz", "sz → rz", Direction::LrzszToLrzsz},
};

struct Arguments {
  std::vector<const Row*> rows;
  std::vector<const Column*> columns;
  std::vector<uint64_t> seeds{1, 2, 3};
  size_t size = 1 << 20;
  int slack = 10;
};

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

// Picks the named entries of a table, in the table's order; false when a
// name is unknown.
template <typename T, size_t N>
bool Select(const std::string& list, const T (&table)[N], std::vector<const T*>& chosen) {
  const auto names = SplitList(list);
  for (const std::string& name : names) {
    if (std::none_of(table, table + N, [&](const T& t) { return name == t.key; })) return false;
  }
  chosen.clear();
  for (const T& t : table) {
    if (std::find(names.begin(), names.end(), t.key) != names.end()) chosen.push_back(&t);
  }
  return true;
}

bool Parse(int argc, char** argv, Arguments& a) {
  for (const Row& r : kRows) a.rows.push_back(&r);
  for (const Column& c : kColumns) a.columns.push_back(&c);
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto eq = arg.find('=');
    if (eq == std::string::npos) return false;
    const std::string name = arg.substr(0, eq), value = arg.substr(eq + 1);
    if (name == "rows" && !Select(value, kRows, a.rows)) return false;
    if (name == "pairs" && !Select(value, kColumns, a.columns)) return false;
    if (name == "seeds") {
      a.seeds.clear();
      for (const std::string& s : SplitList(value))
        a.seeds.push_back(std::strtoull(s.c_str(), nullptr, 10));
    }
    if (name == "size") a.size = std::strtoul(value.c_str(), nullptr, 10);
    if (name == "slack") a.slack = std::atoi(value.c_str());
    if (name != "rows" && name != "pairs" && name != "seeds" && name != "size" && name != "slack")
      return false;
  }
  return !a.rows.empty() && !a.columns.empty() && !a.seeds.empty() && a.size >= 4 && a.slack > 0;
}

Setup SetupFor(const Row& row, const Arguments& a) {
  Setup s;
  s.size = a.size / row.divisor;
  (row.perByte ? s.byteErrorRate : s.bitErrorRate) = row.rate;
  s.latencyMs = row.latencyMs;
  s.deadlineSlack = a.slack;
  return s;
}

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string SizeText(size_t size) {
  return size % 1024 == 0 ? std::to_string(size / 1024) + " KiB" : std::to_string(size) + " bytes";
}

double Efficiency(const Outcome& o, const Setup& s) {
  return static_cast<double>(s.size) / o.seconds / (s.speed / 10.0);
}

struct Cell {
  std::string efficiency;
  std::string receiverCpu;
};

// The middle run, a failed one ranking below every good one; of an even
// count, the slower of the middle two.
Cell Summarise(std::vector<Outcome> runs, const Setup& s, bool pair) {
  const auto rank = [&](const Outcome& o) { return o.good ? Efficiency(o, s) : -1.0; };
  std::sort(runs.begin(), runs.end(),
            [&](const Outcome& a, const Outcome& b) { return rank(a) > rank(b); });
  const size_t n = runs.size();
  const auto good = static_cast<size_t>(
      std::count_if(runs.begin(), runs.end(), [](const Outcome& o) { return o.good; }));
  const auto notDone = static_cast<size_t>(
      std::count_if(runs.begin(), runs.end(), [](const Outcome& o) { return !o.ended; }));
  const size_t failed = n - good - notDone;
  std::string bad;
  const std::string deadline = "not done in " + std::to_string(DeadlineSeconds(s)) + " s";
  if (failed > 0) bad = (n > 1 ? std::to_string(failed) + " " : "") + "failed";
  if (notDone > 0)
    bad += (bad.empty() ? "" : ", ") + (n > 1 ? std::to_string(notDone) + " " : "") + deadline;
  const std::string count = std::to_string(good) + "/" + std::to_string(n);
  Cell cell;
  const Outcome& middle = runs[n / 2];
  if (middle.good)
    cell.efficiency =
        Format("%.3f", Efficiency(middle, s)) + (good < n ? " (" + count + "; " + bad + ")" : "");
  else if (good > 0)
    cell.efficiency = count + " good (best " + Format("%.3f", Efficiency(runs[0], s)) + "); " + bad;
  else
    cell.efficiency = bad;
  // Processor time per MiB of the good runs only: a failed run's says little.
  std::vector<double> cpu;
  for (const Outcome& o : runs) {
    const auto& c = pair ? o.senderCpu : o.receiverCpu;
    if (o.good && c) cpu.push_back(*c * (1 << 20) / static_cast<double>(s.size));
  }
  std::sort(cpu.begin(), cpu.end());
  cell.receiverCpu = cpu.empty() ? "-" : Format("%.3f", cpu[(cpu.size() - 1) / 2]);
  if (pair && !cpu.empty()) cell.receiverCpu += " (pair)";
  return cell;
}

void PrintRun(const Row& row, const Column& column, uint64_t seed, const Outcome& o,
              const Setup& s) {
  const std::string result = o.good    ? Format("%.3f", Efficiency(o, s))
                             : o.ended ? std::string("FAILED")
                                       : "not done in " + std::to_string(DeadlineSeconds(s)) + " s";
  std::fprintf(stderr, "run  | %s | %s | seed %llu | %s | %.1f s | %llu bits flipped\n", row.label,
               column.label, static_cast<unsigned long long>(seed), result.c_str(), o.seconds,
               static_cast<unsigned long long>(o.bitsFlipped));
}

std::string RowLabel(const Row& row, const Arguments& a) {
  std::string label = row.label;
  if (row.divisor != 1) label += " (" + SizeText(a.size / row.divisor) + ")";
  return label;
}

void PrintTable(const Arguments& a, const std::vector<std::vector<Cell>>& cells,
                std::string Cell::*part, const char* corner) {
  std::printf("| %s |", corner);
  for (const Column* c : a.columns) std::printf(" %s |", c->label);
  std::printf("\n|---|");
  for (size_t i = 0; i < a.columns.size(); ++i) std::printf("---|");
  std::printf("\n");
  for (size_t r = 0; r < a.rows.size(); ++r) {
    std::printf("| %s |", RowLabel(*a.rows[r], a).c_str());
    for (const Cell& cell : cells[r]) std::printf(" %s |", (cell.*part).c_str());
    std::printf("\n");
  }
  std::printf("\n");
}

}  // namespace

int NoisyTable(int argc, char** argv) {
  Arguments a;
  if (!Parse(argc, argv, a)) {
    std::fprintf(
        stderr,
        "usage: xfer_bench noisy [rows=LIST] [pairs=LIST] [seeds=LIST] [size=BYTES] [slack=N]\n");
    return 2;
  }
  const Pairing& zmodem = *FindPairing("zmodem");
  const std::string data = RandomFile(a.size);
  std::vector<std::vector<Cell>> cells(a.rows.size());
  for (size_t r = 0; r < a.rows.size(); ++r) {
    const Row& row = *a.rows[r];
    Setup setup = SetupFor(row, a);
    // Without errors the seed changes nothing: one run is the cell.
    const size_t seeds = row.rate > 0 ? a.seeds.size() : 1;
    for (const Column* column : a.columns) {
      std::vector<Outcome> runs;
      for (size_t i = 0; i < seeds; ++i) {
        setup.seed = a.seeds[i];
        runs.push_back(RunTransfer(zmodem, column->direction, setup, data.substr(0, setup.size)));
        PrintRun(row, *column, setup.seed, runs.back(), setup);
      }
      cells[r].push_back(Summarise(runs, setup, column->direction == Direction::OursToOurs));
      std::fprintf(stderr, "cell | %s | %s | %s | receiver CPU %s s/MiB\n",
                   RowLabel(row, a).c_str(), column->label, cells[r].back().efficiency.c_str(),
                   cells[r].back().receiverCpu.c_str());
    }
  }
  std::printf(
      "ZMODEM, %s random file (a quarter of it at P = 1e-4), relay paced at 115200 "
      "bit/s; seeds",
      SizeText(a.size).c_str());
  for (uint64_t s : a.seeds) std::printf(" %llu", static_cast<unsigned long long>(s));
  std::printf(" (median efficiency)\n\n");
  PrintTable(a, cells, &Cell::efficiency, "line");
  std::printf(
      "Receiver CPU s/MiB (median of the good runs; where both sides are ours, the pair):\n\n");
  PrintTable(a, cells, &Cell::receiverCpu, "line");
  std::fflush(stdout);
  return 0;
}
