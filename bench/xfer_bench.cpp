// Transfer throughput on a paced line: our engine against lrzsz in both
// directions, and lrzsz against itself as the yardstick, each over the pty
// relay paced at 115200 bit/s with a 1 MiB random file. Prints a markdown
// table of efficiency (file bytes per second over the line's 11520 bytes per
// second) and processor seconds per MiB of each side. A transfer's time runs
// from the start until the receiving side is done with the file.
//
//   xfer_bench [SIZE_BYTES [SPEED_BPS [PROTOCOL [BIT_ERROR_RATE [LATENCY_MS [SEED]]]]]]
//
// SPEED_BPS 0 leaves the relay unpaced (a plain pty pair with a thread in
// between): then only the kB/s and processor columns mean anything. SEED
// (default 7) places the relay's bit errors.
//
// "xfer_bench noisy ..." prints the ZMODEM table on noisy lines instead
// (xfer_noisy_table.cpp).
//
// Our side runs in this process; its processor time is this process's less
// the relay thread's. lrzsz runs under a shell on the relay's device; its
// time is what that shell reports for it (the shell's "times").

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "KelComm.h"
#include "LineRelay.h"
#include "PeerProcess.h"
#include "xfer_bench.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr Pairing kPairings[] = {
    {"xmodem-sum", pr_XMODEM_SUM_128, "sx data.bin", "rx recv.bin", "recv.bin"},
    {"xmodem-crc", pr_XMODEM_CRC_128, "sx data.bin", "rx -c recv.bin", "recv.bin"},
    {"xmodem-1k", pr_XMODEM_CRC_1024, "sx -k data.bin", "rx -c recv.bin", "recv.bin"},
    {"ymodem", pr_YMODEM, "sb -k data.bin", "cd in && rb -y", "in/data.bin"},
    {"ymodem-g", pr_YMODEM_G, "sb -k data.bin", nullptr, nullptr},
    {"zmodem", pr_ZMODEM, "sz data.bin", "cd in && rz", "in/data.bin"},
    {"mlink", pr_MLINK, nullptr, nullptr, nullptr},
};

LineRelay::Options RelayOptions(const Setup& setup) {
  return LineRelay::Options{.speed = setup.speed,
                            .latencyMs = setup.latencyMs,
                            .bitErrorRate = setup.bitErrorRate,
                            .byteErrorRate = setup.byteErrorRate,
                            .seed = setup.seed};
}

// Our device's speed setting: a pty takes any, so an unpaced run says 115200.
int DeviceSpeed(const Setup& setup) { return setup.speed > 0 ? setup.speed : 115200; }

Clock::time_point DeadlineFor(const Setup& setup) {
  return Clock::now() + std::chrono::seconds(DeadlineSeconds(setup));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// XMODEM receivers keep the fill of the last block: the file, then SUBs.
bool SameContent(const std::string& sent, const std::string& got) {
  if (got.size() < sent.size() || got.size() - sent.size() >= 1024) return false;
  if (got.compare(0, sent.size(), sent) != 0) return false;
  return got.find_first_not_of('\x1A', sent.size()) == std::string::npos;
}

// lrzsz's exit code as its shell recorded it; -1 when it never ended.
int LrzszExitCode(const Setup& setup, const std::string& tag) {
  const std::string text = ReadFile(setup.dir + "/" + tag + ".status");
  return text.empty() ? -1 : std::atoi(text.c_str());
}

double CpuOfSelf() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The children's line of the shell's "times": "0m0.120000s 0m0.030000s".
std::optional<double> CpuFromTimes(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::string line;
  if (!std::getline(in, line) || !std::getline(in, line)) return std::nullopt;
  double total = 0;
  std::istringstream fields(line);
  for (std::string f; fields >> f;) {
    int minutes = 0;
    double seconds = 0;
    if (std::sscanf(f.c_str(), "%dm%lfs", &minutes, &seconds) != 2) return std::nullopt;
    total += minutes * 60 + seconds;
  }
  return total;
}

std::unique_ptr<PeerProcess> StartLrzsz(const std::string& device, const std::string& command,
                                        const Setup& setup, const std::string& tag) {
  const std::string base = setup.dir + "/" + tag;
  // lrzsz reads and writes the line's device itself, as a host's sz or rz on
  // its serial port does: a copier between them (socat's socket pair holds
  // some 200 KiB) would keep a backlog no serial driver has, which the
  // receiver's requests to resend could never reach. The preload keeps its
  // closing flush from dropping its last bytes (relay/DrainedFlush.cpp).
  // Kept work folders get lrzsz's full log as well.
  const std::string verbose = std::getenv("KELTERM_BENCH_KEEP") ? " -vvv" : "";
  const std::string shell =
      "exec 0<>" + device + " 1>&0; export LD_PRELOAD=" KELTERM_DRAINED_FLUSH "; " + command +
      verbose + " 2>" + base + ".log; echo $? >" + base + ".status; times >" + base + ".cpu";
  return std::make_unique<PeerProcess>(std::vector<std::string>{"sh", "-c", shell}, setup.dir,
                                       base + ".shell");
}

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

// Waits for our transfer to end; false after the deadline. There is no
// signal to wait on: a look every 20 ms keeps the bench's own wake-ups (500 a
// second at 2 ms) out of our side's processor time, and adds at most 20 ms
// to a transfer's time.
bool WaitOurs(const TKELCOMM& ours, Clock::time_point deadline) {
  while (ours.TranMode.load() != 0) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A transfer's time runs until the receiving side is done with the file;
// the sender's closing pause, idle time after the last byte, is left out.
double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Outcome RunWithOurs(const Pairing& p, bool oursSends, const Setup& setup) {
  LineRelay relay(RelayOptions(setup));
  TKELCOMM comm;
  comm.SetDevicePath(relay.PathB());
  comm.SetBaudRate(DeviceSpeed(setup));
  comm.Protocol = p.ours;
  comm.Open();
  const auto deadline = DeadlineFor(setup);
  const double relayCpu0 = relay.RelayCpuSeconds(), selfCpu0 = CpuOfSelf();
  const auto start = Clock::now();
  std::unique_ptr<PeerProcess> peer;
  if (oursSends) {
    comm.StartUpload(setup.dir + "/data.bin", "data.bin");
    peer = StartLrzsz(relay.PathA(), p.lrzszReceive, setup, "recv");
  } else {
    peer = StartLrzsz(relay.PathA(), p.lrzszSend, setup, "send");
    comm.StartDownload(setup.dir + "/ours.bin");
  }
  Outcome o;
  bool ended = false;
  if (oursSends) {
    ended = peer->WaitExit(MsLeft(deadline));
    o.seconds = SecondsSince(start);
    ended = WaitOurs(comm, deadline) && ended;
  } else {
    ended = WaitOurs(comm, deadline);
    o.seconds = SecondsSince(start);
    ended = peer->WaitExit(MsLeft(deadline)) && ended;
  }
  const double oursCpu = CpuOfSelf() - selfCpu0 - (relay.RelayCpuSeconds() - relayCpu0);
  comm.Close();
  const std::string sent = ReadFile(setup.dir + "/data.bin");
  const std::string got = ReadFile(setup.dir + "/" + (oursSends ? p.received : "ours.bin"));
  o.ended = ended;
  o.bitsFlipped = relay.BitsFlipped();
  o.good = ended && comm.TranResult.load() == 1 &&
           LrzszExitCode(setup, oursSends ? "recv" : "send") == 0 && SameContent(sent, got);
  const auto peerCpu = CpuFromTimes(setup.dir + (oursSends ? "/recv.cpu" : "/send.cpu"));
  (oursSends ? o.senderCpu : o.receiverCpu) = oursCpu;
  (oursSends ? o.receiverCpu : o.senderCpu) = peerCpu;
  return o;
}

Outcome RunLrzszPair(const Pairing& p, const Setup& setup) {
  LineRelay relay(RelayOptions(setup));
  const auto deadline = DeadlineFor(setup);
  const auto start = Clock::now();
  auto sender = StartLrzsz(relay.PathA(), p.lrzszSend, setup, "send");
  auto receiver = StartLrzsz(relay.PathB(), p.lrzszReceive, setup, "recv");
  Outcome o;
  bool ended = receiver->WaitExit(MsLeft(deadline));
  o.seconds = SecondsSince(start);
  ended = sender->WaitExit(MsLeft(deadline)) && ended;
  o.ended = ended;
  o.bitsFlipped = relay.BitsFlipped();
  o.good = ended && LrzszExitCode(setup, "send") == 0 && LrzszExitCode(setup, "recv") == 0 &&
           SameContent(ReadFile(setup.dir + "/data.bin"), ReadFile(setup.dir + "/" + p.received));
  o.senderCpu = CpuFromTimes(setup.dir + "/send.cpu");
  o.receiverCpu = CpuFromTimes(setup.dir + "/recv.cpu");
  return o;
}

std::unique_ptr<TKELCOMM> OpenOurs(const std::string& device, const Pairing& p,
                                   const Setup& setup) {
  auto comm = std::make_unique<TKELCOMM>();
  comm->SetDevicePath(device);
  comm->SetBaudRate(DeviceSpeed(setup));
  comm->Protocol = p.ours;
  comm->Open();
  return comm;
}

// Both sides ours, in this process: the processor time of the two cannot be
// told apart, so it is reported once, for the pair, in the sender's column.
Outcome RunOursPair(const Pairing& p, const Setup& setup) {
  LineRelay relay(RelayOptions(setup));
  auto sender = OpenOurs(relay.PathA(), p, setup);
  auto receiver = OpenOurs(relay.PathB(), p, setup);
  const auto deadline = DeadlineFor(setup);
  const double relayCpu0 = relay.RelayCpuSeconds(), selfCpu0 = CpuOfSelf();
  const auto start = Clock::now();
  receiver->StartDownload(setup.dir + "/ours.bin");
  sender->StartUpload(setup.dir + "/data.bin", "data.bin");
  Outcome o;
  bool ended = WaitOurs(*receiver, deadline);
  o.seconds = SecondsSince(start);
  ended = WaitOurs(*sender, deadline) && ended;
  o.senderCpu = CpuOfSelf() - selfCpu0 - (relay.RelayCpuSeconds() - relayCpu0);
  o.ended = ended;
  o.bitsFlipped = relay.BitsFlipped();
  o.good = ended && sender->TranResult.load() == 1 && receiver->TranResult.load() == 1 &&
           SameContent(ReadFile(setup.dir + "/data.bin"), ReadFile(setup.dir + "/ours.bin"));
  return o;
}

// A fresh work folder with the random file, so no run sees another's output.
std::string MakeWorkDir(const std::string& data) {
  char pattern[] = "/tmp/kelterm-bench-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) return std::string();
  std::ofstream(std::string(dir) + "/data.bin", std::ios::binary) << data;
  mkdir((std::string(dir) + "/in").c_str(), 0755);
  return dir;
}

std::string CpuText(std::optional<double> cpu, size_t size) {
  if (!cpu) return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", *cpu * (1 << 20) / static_cast<double>(size));
  return text;
}

void PrintRow(const Pairing& p, Direction d, const Outcome& o, const Setup& setup) {
  static const char* const kSides[] = {"ours",  "lrzsz", "lrzsz", "ours",
                                       "lrzsz", "lrzsz", "ours",  "ours"};
  const int i = static_cast<int>(d) * 2;
  const double bytesPerSecond = static_cast<double>(setup.size) / o.seconds;
  char efficiency[16] = "-";
  if (setup.speed > 0)
    std::snprintf(efficiency, sizeof efficiency, "%.3f", bytesPerSecond / (setup.speed / 10.0));
  std::printf("| %s | %s | %s | %.1f | %.1f | %s | %s | %s | %s |\n", p.name, kSides[i],
              kSides[i + 1], o.seconds, bytesPerSecond / 1e3, efficiency,
              CpuText(o.senderCpu, setup.size).c_str(), CpuText(o.receiverCpu, setup.size).c_str(),
              o.good ? "ok" : "FAILED");
  std::fflush(stdout);
}

}  // namespace

const Pairing* FindPairing(const std::string& name) {
  for (const Pairing& p : kPairings) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

int DeadlineSeconds(const Setup& setup) {
  const size_t bytesPerSecond = setup.speed > 0 ? setup.speed / 10 : 1 << 20;
  return static_cast<int>(60 + setup.deadlineSlack * setup.size / bytesPerSecond +
                          setup.latencyMs / 10);
}

std::string RandomFile(size_t size) {
  std::mt19937 gen(20240607);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(gen());
  return data;
}

Outcome RunTransfer(const Pairing& p, Direction d, Setup setup, const std::string& data) {
  setup.dir = MakeWorkDir(data);
  const Outcome o = d == Direction::LrzszToLrzsz ? RunLrzszPair(p, setup)
                    : d == Direction::OursToOurs
                        ? RunOursPair(p, setup)
                        : RunWithOurs(p, d == Direction::OursToLrzsz, setup);
  // KELTERM_BENCH_KEEP keeps the work folder, with lrzsz's logs, to look into.
  std::error_code ignored;
  if (std::getenv("KELTERM_BENCH_KEEP"))
    std::fprintf(stderr, "kept %s\n", setup.dir.c_str());
  else
    std::filesystem::remove_all(setup.dir, ignored);
  return o;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "noisy") return NoisyTable(argc - 2, argv + 2);
  Setup setup;
  if (argc > 1) setup.size = std::strtoul(argv[1], nullptr, 10);
  if (argc > 2) setup.speed = std::atoi(argv[2]);
  const std::string only = argc > 3 ? argv[3] : "";
  if (argc > 4) setup.bitErrorRate = std::strtod(argv[4], nullptr);
  if (argc > 5) setup.latencyMs = std::atoi(argv[5]);
  if (argc > 6) setup.seed = std::strtoull(argv[6], nullptr, 10);
  if (setup.size == 0 || setup.speed < 0 || setup.bitErrorRate < 0 || setup.latencyMs < 0) {
    std::fprintf(stderr,
                 "usage: xfer_bench [SIZE_BYTES [SPEED_BPS [PROTOCOL [BIT_ERROR_RATE "
                 "[LATENCY_MS [SEED]]]]]]\n"
                 "       xfer_bench noisy [rows=LIST] [pairs=LIST] [seeds=LIST] [size=BYTES] "
                 "[slack=N]\n");
    return 2;
  }
  const std::string data = RandomFile(setup.size);
  std::printf("%zu-byte random file, relay ", setup.size);
  if (setup.speed > 0)
    std::printf("paced at %d bit/s (%d bytes/s)", setup.speed, setup.speed / 10);
  else
    std::printf("unpaced");
  std::printf(", bit error rate %g (seed %llu), one-way latency %d ms\n\n", setup.bitErrorRate,
              static_cast<unsigned long long>(setup.seed), setup.latencyMs);
  std::printf(
      "| protocol | sender | receiver | seconds | kB/s | efficiency | sender CPU s/MiB |"
      " receiver CPU s/MiB | result |\n|---|---|---|---|---|---|---|---|---|\n");
  for (const Pairing& p : kPairings) {
    if (!only.empty() && only != p.name) continue;
    for (Direction d : {Direction::OursToLrzsz, Direction::LrzszToOurs, Direction::LrzszToLrzsz,
                        Direction::OursToOurs}) {
      const bool lrzszSends = d == Direction::LrzszToOurs || d == Direction::LrzszToLrzsz;
      const bool lrzszReceives = d == Direction::OursToLrzsz || d == Direction::LrzszToLrzsz;
      // lrzsz has no such part (rb cannot ask for YMODEM-G; M-LINK has no
      // public peer); our own pair runs where lrzsz has no row of its own.
      if ((lrzszReceives && !p.lrzszReceive) || (lrzszSends && !p.lrzszSend)) continue;
      // KELTERM_BENCH_DIRECTION (0 to 3, in the order of the rows) runs one row.
      const char* one = std::getenv("KELTERM_BENCH_DIRECTION");
      if (one && std::atoi(one) != static_cast<int>(d)) continue;
      if (d == Direction::OursToOurs && p.lrzszReceive && p.lrzszSend && p.ours != pr_ZMODEM)
        continue;
      PrintRow(p, d, RunTransfer(p, d, setup, data), setup);
    }
  }
  return 0;
}
