// kelterm-xfer: sends or receives one file over a serial line with the
// program's transfer engine, without the window. It shows the progress
// dialog's figures on one line of standard error, turns Ctrl+C into a
// cancel request, and reports the outcome in its exit code: 0 success,
// 1 failed or cancelled transfer, 2 bad usage, a device it could not open,
// or a file it could not read (send) or create (receive); with 2 nothing has
// gone on the line.
//
// Threading. The engine runs on its own worker; this main thread only
// starts it, polls its fields every 150 ms and forwards the cancel. The
// signal handler writes one byte to a pipe that the main loop polls, which
// is all a handler may safely do.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "FlowChoice.h"
#include "KelComm.h"
#include "Names.h"
#include "ShiftJisText.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kRefreshMs = 150;  // the progress dialog's tick

struct ProtocolChoice {
  const char* name;
  protType value;
};

constexpr ProtocolChoice kProtocolChoices[] = {
    {"xmodem-sum", pr_XMODEM_SUM_128},
    {"xmodem-crc", pr_XMODEM_CRC_128},
    {"xmodem-1k", pr_XMODEM_CRC_1024},
    {"ymodem", pr_YMODEM},
    {"ymodem-g", pr_YMODEM_G},
    {"zmodem", pr_ZMODEM},
    {"mlink", pr_MLINK},
};

struct Request {
  std::string device = "/dev/ttyS0";
  int speed = 38400;
  TFlowChoice flow = fcRtsCts;
  const ProtocolChoice* protocol = nullptr;
  bool send = false;
  std::string path;
  std::string name;  // announced name (sending), as typed
};

// Bad usage: the message goes to standard error with the usage text.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A request that is well formed but cannot be carried out (exit code 2).
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: kelterm-xfer [-d DEVICE] [-b SPEED] [-f FLOW] -p PROTOCOL send FILE [NAME]\n"
               "       kelterm-xfer [-d DEVICE] [-b SPEED] [-f FLOW] -p PROTOCOL receive PATH\n"
               "  DEVICE   a serial device, a pty or virtual:NAME (default /dev/ttyS0)\n"
               "  SPEED    line speed in bit/s (default 38400)\n"
               "  FLOW     flow control: rtscts none xonxoff (default rtscts)\n"
               "  PROTOCOL");
  for (const ProtocolChoice& p : kProtocolChoices) std::fprintf(out, " %s", p.name);
  std::fprintf(out, "\n");
}

const ProtocolChoice& FindProtocol(const std::string& name) {
  for (const ProtocolChoice& p : kProtocolChoices) {
    if (name == p.name) {
      return p;
    }
  }
  throw UsageError("unknown protocol: " + name);
}

int ParseSpeed(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 50 || value > 4000000) {
    throw UsageError(std::string("bad speed: ") + text);
  }
  return static_cast<int>(value);
}

TFlowChoice ParseFlow(const std::string& word) {
  const auto choice = FlowChoiceFromWord(word);
  if (!choice || word.empty()) throw UsageError("bad flow control: " + word);
  return *choice;
}

// The command after the options: send FILE [NAME] or receive PATH.
void ParseCommand(Request& r, int argc, char** argv, int first) {
  const int count = argc - first;
  if (count < 1) throw UsageError("missing command");
  const std::string command = argv[first];
  if (command == "send" && (count == 2 || count == 3)) {
    r.send = true;
    r.path = argv[first + 1];
    if (count == 3) r.name = argv[first + 2];
  } else if (command == "receive" && count == 2) {
    r.path = argv[first + 1];
  } else if (command != "send" && command != "receive") {
    throw UsageError("unknown command: " + command);
  } else {
    throw UsageError("wrong number of arguments for " + command);
  }
  if (r.path.empty()) throw UsageError("empty path");
}

// Returns false when only help was asked for.
bool ParseArgs(Request& r, int argc, char** argv) {
  std::string protocol;
  opterr = 0;
  int c;
  while ((c = getopt(argc, argv, "+d:b:f:p:h")) != -1) {
    switch (c) {
      case 'd':
        r.device = optarg;
        break;
      case 'b':
        r.speed = ParseSpeed(optarg);
        break;
      case 'f':
        r.flow = ParseFlow(optarg);
        break;
      case 'p':
        protocol = optarg;
        break;
      case 'h':
        return false;
      default:
        throw UsageError(std::string("bad option: -") + static_cast<char>(optopt));
    }
  }
  ParseCommand(r, argc, argv, optind);
  if (protocol.empty()) throw UsageError("missing -p PROTOCOL");
  r.protocol = &FindProtocol(protocol);
  return true;
}

std::string Clock(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

// The progress dialog's figures, worked out the way the dialog does.
std::string ProgressLine(const TKelCommStatus& s) {
  const int32_t size = s.FileSize.load();
  const int32_t done = s.TranSize.load();
  const int32_t elapsed = static_cast<int32_t>((GetTickCount() - s.StartTick.load()) / 1000);
  const bool sizeKnown = size != kUnknownFileSize;
  const int32_t speed = elapsed > 0 ? done / elapsed : 0;
  const int32_t left = speed > 0 ? (size - done) / speed : 3600;
  const std::string total = sizeKnown ? std::to_string(size) : "?";
  return std::to_string(done) + " / " + total + " bytes  " +
         (speed > 0 ? std::to_string(speed) : "?") + " bytes/s  elapsed " + Clock(elapsed) +
         "  left " + (sizeKnown ? Clock(left) : "?");
}

class ProgressPrinter {
 public:
  void Show(const std::string& line) {
    if (line == last_) return;
    const size_t pad = last_.size() > line.size() ? last_.size() - line.size() : 0;
    std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
    std::fflush(stderr);
    last_ = line;
  }
  void Finish() {
    if (!last_.empty()) std::fputc('\n', stderr);
  }

 private:
  std::string last_;
};

int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  if (write(signalPipe[1], &byte, 1) < 0) {
    // The pipe is full: a cancel is already waiting to be noticed.
  }
  errno = saved;
}

void InstallSignalPipe() {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw SetupError("cannot create a pipe");
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Waits up to one refresh for a signal; true when one came.
bool SignalArrived() {
  pollfd p{signalPipe[0], POLLIN, 0};
  if (poll(&p, 1, kRefreshMs) <= 0) return false;
  char drain[64];
  while (read(signalPipe[0], drain, sizeof drain) > 0) {
  }
  return true;
}

void CheckReadable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), R_OK) != 0) {
    throw SetupError("cannot read " + path);
  }
}

// The receive target must be a file the transfer can create or replace. The
// check leaves nothing behind: a file it created it removes again.
void CheckCreatable(const std::string& path) {
  struct stat st;
  const bool existed = stat(path.c_str(), &st) == 0;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) throw SetupError("cannot create " + path + ": " + strerror(errno));
  close(fd);
  if (!existed) unlink(path.c_str());
}

void OpenLine(TKELCOMM& comm, const Request& r) {
  comm.SetDevicePath(r.device);
  comm.SetBaudRate(r.speed);
  comm.SetFlowControls(FlowControlsOf(r.flow));
  comm.Protocol = r.protocol->value;
  try {
    comm.Open();
  } catch (const ECommOpenError& e) {
    throw SetupError(e.Why.English());
  } catch (const ECommError&) {
    // The device opened but refused the only setting the tool makes.
    throw SetupError("cannot set " + r.device + " to " + std::to_string(r.speed) + " bit/s");
  }
}

// Runs the transfer to its end; returns the exit code.
int RunTransfer(TKELCOMM& comm, const Request& r) {
  if (r.send) {
    comm.StartUpload(r.path, r.name.empty() ? std::string() : ShiftJisFromUtf8(r.name));
  } else {
    comm.StartDownload(r.path);
  }
  if (comm.TranMode.load() == 0) {
    std::fprintf(stderr, "kelterm-xfer: the transfer did not start%s\n",
                 r.send ? " (an empty file, or one of 2 GiB or more)" : "");
    return kExitFailed;
  }
  ProgressPrinter progress;
  bool cancelled = false;
  while (comm.TranMode.load() != 0) {
    if (SignalArrived()) {
      comm.RequestCancel();
      cancelled = true;
    }
    progress.Show(ProgressLine(comm.Status));
  }
  progress.Show(ProgressLine(comm.Status));
  progress.Finish();
  const bool good = comm.TranResult.load() == 1;
  const std::string announced = comm.Status.RecvName.get();
  if (good && !announced.empty()) {
    const std::string shown = Utf8FromShiftJis(VisibleName(announced));
    std::fprintf(stderr, "kelterm-xfer: received %s as %s\n", shown.c_str(), r.path.c_str());
  }
  std::fprintf(stderr, "kelterm-xfer: %s\n",
               good        ? "transfer complete"
               : cancelled ? "transfer cancelled"
                           : "transfer failed");
  return good ? kExitSuccess : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  try {
    if (!ParseArgs(request, argc, argv)) {
      PrintUsage(stdout);
      return kExitSuccess;
    }
    if (request.send)
      CheckReadable(request.path);
    else
      CheckCreatable(request.path);
    InstallSignalPipe();
    TKELCOMM comm;
    OpenLine(comm, request);
    const int code = RunTransfer(comm, request);
    comm.Close();
    return code;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kelterm-xfer: %s\n", e.what());
    PrintUsage(stderr);
    return kExitUsage;
  } catch (const SetupError& e) {
    std::fprintf(stderr, "kelterm-xfer: %s\n", e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelterm-xfer: %s\n", e.what());
    return kExitFailed;
  }
}
