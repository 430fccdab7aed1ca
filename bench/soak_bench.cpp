// Soak run of the transfer engine: COUNT transfers back to back between two
// of our components on one virtual line with bit errors, each with a protocol,
// a file size, a direction and perhaps a cancel drawn from SEED. It prints a
// markdown table of outcomes per protocol and one of the process's resources
// (descriptors, threads, resident memory, heap in use) after a warm-up and at
// the end, so that a leak, a hang or a damaged file reported good shows.
//
//   soak_bench [COUNT [SEED [SPEED_BPS [BIT_ERROR_RATE [INDEX[-LAST]]]]]]
//
// SPEED_BPS 0 leaves the line unpaced. INDEX runs that one transfer of the
// run (same protocol, size, cancel and line noise), to look into it;
// INDEX-LAST a stretch of the run.
//
// One line serves the whole run and the two components live as long as it,
// as the window's component does: both ports are opened before each transfer
// and closed after it. What a transfer leaves behind (a thread, a descriptor,
// a buffer, bytes on the line) is then still there for the next one and for
// the final count. Each transfer reseeds the line's errors from SEED and its
// index, so its noise does not depend on what ran before it.

#include <dirent.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "KelComm.h"
#include "VirtualLine.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char* const kShortNames[kProtocolCount] = {"XMODEM sum", "XMODEM CRC", "XMODEM 1k", "YMODEM",
                                                 "YMODEM-G",   "ZMODEM",     "M-LINK"};

// ---- What one transfer does ------------------------------------------------

struct Plan {
  int index = 0;
  protType protocol = pr_XMODEM_SUM_128;
  size_t size = 0;
  int senderEnd = 0;  // the line end whose component sends
  bool receiverFirst = true;
  bool cancel = false;
  bool cancelReceiver = false;
  double cancelAt = 0;  // fraction of the expected duration
  uint64_t lineSeed = 0;
  uint32_t dataSeed = 0;
  bool clean = false;  // no bit errors (the warm-up)
};

// Sizes from nothing to 256 KiB; a quarter sit on or beside a block boundary.
size_t DrawSize(std::mt19937_64& rng) {
  const int kind = static_cast<int>(rng() % 100);
  if (kind < 3) {
    constexpr size_t kTiny[] = {0, 1, 2, 127, 128, 129};
    return kTiny[rng() % std::size(kTiny)];
  }
  if (kind < 28) {
    const size_t block = rng() % 2 ? 128 : 1024;
    const size_t blocks = 1 + rng() % (256 * 1024 / block);
    const int beside = static_cast<int>(rng() % 3) - 1;
    return std::min<size_t>(blocks * block + beside, 256 * 1024);
  }
  return rng() % (256 * 1024 + 1);
}

Plan PlanFor(uint64_t seed, int index) {
  std::seed_seq seq{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                    static_cast<uint32_t>(index)};
  std::mt19937_64 rng(seq);
  Plan p;
  p.index = index;
  p.protocol = static_cast<protType>(rng() % kProtocolCount);
  p.size = DrawSize(rng);
  p.senderEnd = static_cast<int>(rng() % 2);
  p.receiverFirst = rng() % 2 == 0;
  p.cancel = rng() % 5 == 0;
  p.cancelReceiver = rng() % 2 == 0;
  p.cancelAt = std::uniform_real_distribution<double>(0.0, 1.2)(rng);
  p.lineSeed = rng();
  p.dataSeed = static_cast<uint32_t>(rng());
  return p;
}

// How long the transfer should take on a clean line: the bytes with the
// blocks' framing, a turn-around per acknowledged block, M-LINK's receiver
// pause before its first invitation.
double ExpectedSeconds(const Plan& p, int speed) {
  const double bytesPerSecond = speed > 0 ? speed / 10.0 : 2e6;
  const bool small = p.protocol <= pr_XMODEM_CRC_128;
  const double blocks = static_cast<double>(p.size) / (small ? 128 : 1024) + 1;
  const double acknowledged = p.protocol == pr_YMODEM_G || p.protocol == pr_ZMODEM ? 0 : blocks;
  const double pause = p.protocol == pr_MLINK ? 6.0 : 0.0;
  return static_cast<double>(p.size) * 1.05 / bytesPerSecond + acknowledged * 0.002 + pause + 0.5;
}

// A side that hears nothing gives up after at most ten invitations ten
// seconds apart (XMODEM, YMODEM, M-LINK; ZMODEM's waits are shorter): past
// three times the clean duration plus that, the transfer is a hang.
Clock::duration DeadlineFor(const Plan& p, int speed) {
  const double seconds = 3 * ExpectedSeconds(p, speed) + 100 + 10;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// ---- Files -----------------------------------------------------------------

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// XMODEM knows no size: the receiver keeps whole blocks, the last one filled
// with SUB. The others must deliver exactly the file.
bool Intact(protType protocol, const std::string& sent, const std::string& got) {
  if (protocol > pr_XMODEM_CRC_1024) return got == sent;
  const size_t block = protocol == pr_XMODEM_CRC_1024 ? 1024 : 128;
  if (got.size() < sent.size() || got.size() - sent.size() >= block || got.size() % block != 0)
    return false;
  if (got.compare(0, sent.size(), sent) != 0) return false;
  return got.find_first_not_of('\x1A', sent.size()) == std::string::npos;
}

size_t FirstDifference(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  const auto it = std::mismatch(a.begin(), a.begin() + static_cast<ptrdiff_t>(n), b.begin());
  return static_cast<size_t>(it.first - a.begin());
}

// ---- The process's resources -----------------------------------------------

struct Usage {
  long fds = 0;
  long threads = 0;
  long rssKb = 0;
  long hwmKb = 0;
  long long heapBytes = 0;
};

// Entries of a /proc folder, less the descriptor that reads it.
long CountEntries(const char* path, bool ownFd) {
  DIR* dir = opendir(path);
  if (!dir) return -1;
  long n = 0;
  while (const dirent* e = readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
  closedir(dir);
  return ownFd ? n - 1 : n;
}

long StatusKb(const std::string& status, const char* key) {
  const size_t at = status.find(key);
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + std::strlen(key));
}

Usage MeasureUsage() {
  Usage u;
  u.fds = CountEntries("/proc/self/fd", true);
  u.threads = CountEntries("/proc/self/task", false);
  const std::string status = ReadFile("/proc/self/status");
  u.rssKb = StatusKb(status, "VmRSS:");
  u.hwmKb = StatusKb(status, "VmHWM:");
  const struct mallinfo2 m = mallinfo2();
  u.heapBytes = static_cast<long long>(m.uordblks + m.hblkhd);
  return u;
}

// ---- Outcomes ----------------------------------------------------------------

enum Outcome { kGood, kFailed, kCancelled, kHang, kCorrupt, kRefused, kOutcomeCount };

struct Result {
  Outcome outcome = kFailed;
  double seconds = 0;
  bool split = false;            // one side reported success, the other failure
  bool cancelled = false;        // a cancel reached a running side
  bool stuck = false;            // not even closing the ports ended it
  double cancelledAt = -1;       // seconds from the start
  double endedAt[2] = {-1, -1};  // when each end's side ended
  int errorCount[2] = {0, 0};    // each end's count of damaged headers
  std::string note;
};

struct Tally {
  std::array<int, kOutcomeCount> outcomes{};
  int transfers = 0, split = 0, cancels = 0;
  double seconds = 0, longest = 0;
  long long bytes = 0;
  void Add(const Result& r, size_t size) {
    ++transfers;
    ++outcomes[r.outcome];
    split += r.split;
    cancels += r.cancelled;
    seconds += r.seconds;
    longest = std::max(longest, r.seconds);
    bytes += static_cast<long long>(size);
  }
};

// ---- The run -----------------------------------------------------------------

class Soak {
 public:
  Soak(int speed, double bitErrorRate, std::string dir);
  ~Soak();
  Result Run(const Plan& p);
  uint64_t StrayBytes() const { return stray_.load(); }

 private:
  void Start(const Plan& p, TKELCOMM& tx, TKELCOMM& rx);
  bool WaitIdle(Clock::time_point until, const Plan* p, Clock::time_point start, Result& r);
  void EndHang(Result& r, Clock::time_point start);
  Result Judge(const Plan& p, TKELCOMM& tx, TKELCOMM& rx, Result r);

  const int speed_;
  const double bitErrorRate_;
  const std::string dir_;
  const std::string lineName_;
  std::shared_ptr<VirtualLine> line_;
  TKELCOMM comm_[2];
  std::atomic<uint64_t> stray_{0};  // bytes that reached the window handlers
};

Soak::Soak(int speed, double bitErrorRate, std::string dir)
    : speed_(speed),
      bitErrorRate_(bitErrorRate),
      dir_(std::move(dir)),
      lineName_("soak-" + std::to_string(getpid())) {
  line_ = VirtualLine::Create(lineName_);
  for (int end = 0; end < 2; ++end) {
    TKELCOMM& c = comm_[end];
    c.SetDevicePath("virtual:" + lineName_ + "/" + std::to_string(end));
    c.SetBaudRate(speed > 0 ? speed : 115200);
    // What the terminal would show: read and dropped here.
    c.OnCommReceive = [this](TComm* sender, uint16_t size) {
      std::string chunk(size, '\0');
      stray_ += static_cast<uint64_t>(std::max(sender->Read(chunk.data(), size), 0));
    };
  }
}

Soak::~Soak() {
  for (TKELCOMM& c : comm_) c.Close();
  VirtualLine::Remove(lineName_);
}

void Soak::Start(const Plan& p, TKELCOMM& tx, TKELCOMM& rx) {
  const std::string data = dir_ + "/data.bin", received = dir_ + "/recv.bin";
  if (p.receiverFirst) rx.StartDownload(received);
  tx.StartUpload(data, "soak.bin");
  if (!p.receiverFirst) rx.StartDownload(received);
}

// Waits until both sides are idle or `until`; on the way it cancels the
// planned side at the planned moment. The engine gives no signal when a
// transfer ends, so this looks every few milliseconds.
bool Soak::WaitIdle(Clock::time_point until, const Plan* p, Clock::time_point start, Result& r) {
  const auto cancelAt =
      p ? start + std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(p->cancelAt * ExpectedSeconds(*p, speed_)))
        : Clock::time_point::max();
  bool cancelDone = !p || !p->cancel;
  for (;;) {
    const auto now = Clock::now();
    const double since = std::chrono::duration<double>(now - start).count();
    for (int end = 0; end < 2; ++end)
      if (r.endedAt[end] < 0 && comm_[end].TranMode.load() == 0) r.endedAt[end] = since;
    if (r.endedAt[0] >= 0 && r.endedAt[1] >= 0) return true;
    if (now >= until) return false;
    if (!cancelDone && now >= cancelAt) {
      cancelDone = true;
      TKELCOMM& side = comm_[p->cancelReceiver ? 1 - p->senderEnd : p->senderEnd];
      if (side.TranMode.load() != 0) {
        side.RequestCancel();
        r.cancelled = true;
        r.cancelledAt = since;
      }
    }
    std::this_thread::sleep_for(5ms);
  }
}

// Past the deadline: cancel both sides; if that does not end them, take the
// line away (every wait ends on it); if even that fails the run cannot go on.
void Soak::EndHang(Result& r, Clock::time_point start) {
  r.outcome = kHang;
  for (TKELCOMM& c : comm_) c.RequestCancel();
  if (WaitIdle(Clock::now() + 30s, nullptr, start, r)) return;
  r.note += " cancel did not end it;";
  for (TKELCOMM& c : comm_) c.Close();
  if (WaitIdle(Clock::now() + 30s, nullptr, start, r)) return;
  r.note += " closing the ports did not end it";
  r.stuck = true;
}

Result Soak::Run(const Plan& p) {
  VirtualLine::Options options;
  options.speed = speed_;
  options.bitErrorRate = p.clean ? 0 : bitErrorRate_;
  options.seed = p.lineSeed;
  line_->SetOptions(options);
  WriteFile(dir_ + "/data.bin", RandomBytes(p.size, p.dataSeed));
  std::filesystem::remove(dir_ + "/recv.bin");
  TKELCOMM& tx = comm_[p.senderEnd];
  TKELCOMM& rx = comm_[1 - p.senderEnd];
  tx.Protocol = rx.Protocol = p.protocol;
  tx.Open();
  rx.Open();
  Result r;
  const auto start = Clock::now();
  Start(p, tx, rx);
  const bool refused = tx.TranMode.load() == 0;
  if (refused) rx.RequestCancel();  // nobody will send: the user gives up
  if (!WaitIdle(start + DeadlineFor(p, speed_), refused ? nullptr : &p, start, r))
    EndHang(r, start);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (int end = 0; end < 2; ++end) r.errorCount[end] = comm_[end].Status.ErrorCount.load();
  if (r.stuck) return r;
  tx.Close();
  rx.Close();
  if (refused && r.outcome != kHang) {
    r.outcome = rx.TranResult.load() == 0 && p.size == 0 ? kRefused : kFailed;
    if (p.size != 0) r.note += " upload refused";
    return r;
  }
  return r.outcome == kHang ? r : Judge(p, tx, rx, r);
}

// A damaged file that the receiver reports good is the worst outcome and is
// counted whatever else happened; a good file reported good is good even when
// a cancel came too late to stop it.
Result Soak::Judge(const Plan& p, TKELCOMM& tx, TKELCOMM& rx, Result r) {
  const bool txGood = tx.TranResult.load() == 1, rxGood = rx.TranResult.load() == 1;
  r.split = txGood != rxGood;
  if (rxGood) {
    const std::string sent = ReadFile(dir_ + "/data.bin");
    const std::string got = ReadFile(dir_ + "/recv.bin");
    if (Intact(p.protocol, sent, got)) {
      r.outcome = kGood;
    } else {
      r.outcome = kCorrupt;
      r.note += " received " + std::to_string(got.size()) + " bytes, first difference at " +
                std::to_string(FirstDifference(sent, got));
    }
    return r;
  }
  r.outcome = r.cancelled ? kCancelled : kFailed;
  if (txGood) r.note += " sender reported success";
  return r;
}

// ---- Reports -----------------------------------------------------------------

const char* const kOutcomeNames[kOutcomeCount] = {"good", "failed",  "cancelled",
                                                  "HANG", "CORRUPT", "refused"};

// One line per transfer; when and in which order the sides ended says where
// a slow or hung transfer waited.
void PrintProgress(const Plan& p, const Result& r) {
  const int rxEnd = 1 - p.senderEnd;
  std::fprintf(stderr, "#%d %s %zu bytes, end %d sends: %s in %.1f s%s", p.index,
               kShortNames[p.protocol], p.size, p.senderEnd, kOutcomeNames[r.outcome], r.seconds,
               r.split ? " (one side good)" : "");
  if (r.cancelled)
    std::fprintf(stderr, "; %s cancelled at %.1f s", p.cancelReceiver ? "receiver" : "sender",
                 r.cancelledAt);
  std::fprintf(stderr, "; sender ended at %.1f s, receiver at %.1f s; damaged headers %d/%d;%s\n",
               r.endedAt[p.senderEnd], r.endedAt[rxEnd], r.errorCount[p.senderEnd],
               r.errorCount[rxEnd], r.note.c_str());
}

void PrintRow(const char* name, const Tally& t) {
  const auto& o = t.outcomes;
  std::printf("| %s | %d | %d | %d | %d | %d | %d | %d | %d | %.1f | %.1f | %.1f |\n", name,
              t.transfers, o[kGood], o[kFailed], o[kCancelled], o[kHang], o[kCorrupt], o[kRefused],
              t.split, t.bytes / 1048576.0, t.seconds, t.longest);
}

void PrintOutcomes(const std::array<Tally, kProtocolCount>& tallies) {
  std::printf(
      "| protocol | transfers | good | failed | cancelled | hang | corrupt | empty, refused |"
      " one side good | MiB | seconds | longest s |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  Tally all;
  for (int i = 0; i < kProtocolCount; ++i) {
    if (tallies[i].transfers == 0) continue;
    PrintRow(kShortNames[i], tallies[i]);
    for (int k = 0; k < kOutcomeCount; ++k) all.outcomes[k] += tallies[i].outcomes[k];
    all.transfers += tallies[i].transfers;
    all.split += tallies[i].split;
    all.cancels += tallies[i].cancels;
    all.seconds += tallies[i].seconds;
    all.bytes += tallies[i].bytes;
    all.longest = std::max(all.longest, tallies[i].longest);
  }
  PrintRow("all", all);
  std::printf("\nCancels that reached a running side: %d.\n", all.cancels);
}

void PrintUsageRow(const char* what, long long start, long long end) {
  std::printf("| %s | %lld | %lld | %+lld |\n", what, start, end, end - start);
}

void PrintUsage(const Usage& a, const Usage& b) {
  std::printf("\n| resource | start | end | change |\n|---|---|---|---|\n");
  PrintUsageRow("open descriptors", a.fds, b.fds);
  PrintUsageRow("threads", a.threads, b.threads);
  PrintUsageRow("VmRSS kB", a.rssKb, b.rssKb);
  PrintUsageRow("VmHWM kB", a.hwmKb, b.hwmKb);
  PrintUsageRow("heap in use, bytes", a.heapBytes, b.heapBytes);
}

// One clean transfer of each protocol, so that what is allocated once (the
// line's buffers, the engine's, the C++ library's) is in the start figures.
void WarmUp(Soak& soak) {
  for (int i = 0; i < kProtocolCount; ++i) {
    Plan p;
    p.index = -1;
    p.protocol = static_cast<protType>(i);
    p.size = 20000;
    p.dataSeed = static_cast<uint32_t>(i);
    p.lineSeed = 1;
    p.clean = true;
    const Result r = soak.Run(p);
    if (r.outcome != kGood) PrintProgress(p, r);
  }
}

std::string MakeWorkDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kelterm-soak-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

struct Args {
  int count = 200;
  uint64_t seed = 1;
  int speed = 1000000;
  double bitErrorRate = 1e-5;
  int first = 0, last = -1;  // the transfers of the run that run here
};

bool ParseArgs(int argc, char** argv, Args& a) {
  if (argc > 1) a.count = std::atoi(argv[1]);
  if (argc > 2) a.seed = std::strtoull(argv[2], nullptr, 10);
  if (argc > 3) a.speed = std::atoi(argv[3]);
  if (argc > 4) a.bitErrorRate = std::strtod(argv[4], nullptr);
  a.last = a.count - 1;
  if (argc > 5) {
    const char* range = argv[5];
    char* dash = nullptr;
    a.first = a.last = static_cast<int>(std::strtol(range, &dash, 10));
    if (*dash == '-') a.last = std::atoi(dash + 1);
  }
  return a.count > 0 && a.speed >= 0 && a.bitErrorRate >= 0 && a.bitErrorRate < 1 && a.first >= 0 &&
         a.first <= a.last && a.last < a.count && argc <= 6;
}

void Report(const Args& args, const std::array<Tally, kProtocolCount>& tallies, const Usage& before,
            const Usage& after) {
  std::printf("Transfers %d to %d of %d, seed %llu, line ", args.first, args.last, args.count,
              static_cast<unsigned long long>(args.seed));
  if (args.speed > 0)
    std::printf("paced at %d bit/s", args.speed);
  else
    std::printf("unpaced");
  std::printf(", bit error rate %g\n\n", args.bitErrorRate);
  PrintOutcomes(tallies);
  PrintUsage(before, after);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!ParseArgs(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: soak_bench [COUNT [SEED [SPEED_BPS [BIT_ERROR_RATE [INDEX[-LAST]]]]]]\n");
    return 2;
  }
  const std::string dir = MakeWorkDir();
  if (dir.empty()) return 1;
  std::array<Tally, kProtocolCount> tallies;
  {
    Soak soak(args.speed, args.bitErrorRate, dir);
    WarmUp(soak);
    const Usage before = MeasureUsage();
    bool stuck = false;
    for (int i = args.first; i <= args.last && !stuck; ++i) {
      const Plan p = PlanFor(args.seed, i);
      const Result r = soak.Run(p);
      PrintProgress(p, r);
      tallies[p.protocol].Add(r, p.size);
      stuck = r.stuck;
    }
    const Usage after = MeasureUsage();
    std::fprintf(stderr, "bytes that reached the window handlers: %llu\n",
                 static_cast<unsigned long long>(soak.StrayBytes()));
    Report(args, tallies, before, after);
    if (stuck) {
      // The components cannot be destroyed while their worker runs.
      std::printf("\nThe run stopped: a transfer did not end even without its line.\n");
      std::fflush(stdout);
      _exit(1);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
