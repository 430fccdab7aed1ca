#include "DemoModem.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr auto kGuardTime = 1s;     // silence around the escape
constexpr auto kDialTime = 1500ms;  // until the host answers
constexpr auto kBusyTime = 3s;      // until a number that never answers gives up
constexpr std::string_view kDeadNumber = "9999999999";
// The speed CONNECT reports. The virtual line cannot tell the speed the
// KelTerm end has set, so the modem names the one a new installation uses.
constexpr std::string_view kConnectSpeed = "38400";
constexpr size_t kMaxLine = 80;  // a longer command line is cut here
constexpr std::string_view kIdentity = "KelTerm demo modem 1.0";

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The decimal number at the front of rest, taken off; `none` when there is none.
int TakeNumber(std::string_view& rest, int none) {
  if (rest.empty() || !std::isdigit(static_cast<unsigned char>(rest.front()))) return none;
  int value = 0;
  while (!rest.empty() && std::isdigit(static_cast<unsigned char>(rest.front()))) {
    value = std::min(value * 10 + (rest.front() - '0'), 9999);
    rest.remove_prefix(1);
  }
  return value;
}

}  // namespace

DemoModem::DemoModem(DemoPort& port, DemoHost& host) : port_(port), host_(host) {}

void DemoModem::Step(Clock::time_point now) {
  const bool dtr = port_.KelTermDtr();
  if (dtr_ && !dtr && mode_ != Mode::Command) HangUp();  // the terminal hung up
  dtr_ = dtr;
  for (const DemoPort::Chunk& chunk : port_.TakeInput()) {
    std::string_view rest = chunk.bytes;
    while (!rest.empty() && mode_ != Mode::Online) {
      if (mode_ != Mode::Dialing) CommandByte(rest.front(), chunk.at);  // dialling: dropped
      rest.remove_prefix(1);
    }
    if (!rest.empty()) OnlineBytes(rest, chunk.at);
  }
  if (mode_ == Mode::Dialing && now >= dialDone_) {
    if (dialFails_) {
      mode_ = Mode::Command;
      Reply(Result::NoCarrier);
    } else {
      Connect(now);
    }
  }
  if (mode_ == Mode::Online && plusses_ == 3 && now - lastRx_ >= kGuardTime) {
    plusses_ = 0;
    mode_ = Mode::OnlineCommand;
    line_.clear();
    Reply(Result::Ok);
  }
  if (mode_ == Mode::Online && host_.Step(now)) {
    HangUp();
    Reply(Result::NoCarrier);
  }
}

DemoModem::Clock::time_point DemoModem::NextDeadline(Clock::time_point now) const {
  if (mode_ == Mode::Dialing) return dialDone_;
  if (mode_ != Mode::Online) return Clock::time_point::max();
  Clock::time_point next = host_.NextDeadline(now);
  if (plusses_ == 3) next = std::min(next, lastRx_ + kGuardTime);
  return next;
}

// Three escape characters count only with a guard time of silence before
// the first and after the last, and none between them; anything else is
// data. They reach the host either way, as on a real line.
void DemoModem::OnlineBytes(std::string_view bytes, Clock::time_point at) {
  for (const char c : bytes) {
    const bool silentBefore = at - lastRx_ >= kGuardTime;
    if (c == '+' && (plusses_ == 0 ? silentBefore : plusses_ < 3 && !silentBefore))
      ++plusses_;
    else
      plusses_ = 0;
    lastRx_ = at;
  }
  host_.Feed(bytes, at);
}

void DemoModem::CommandByte(char c, Clock::time_point at) {
  if (c == '\n') return;
  if (echo_) port_.Send(std::string_view(&c, 1));
  if (c == '\r') {
    RunLine(std::exchange(line_, std::string()), at);
  } else if (c == '\b' || c == 0x7F) {
    if (!line_.empty()) line_.pop_back();
  } else if (line_.size() < kMaxLine) {
    line_ += c;
  }
}

// A line that does not start with AT is no command: a modem ignores it.
void DemoModem::RunLine(const std::string& line, Clock::time_point at) {
  std::string_view text = line;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.size() < 2 || Upper(text[0]) != 'A' || Upper(text[1]) != 'T') return;
  bool answered = false;
  if (!RunCommands(text.substr(2), at, answered))
    Reply(Result::Error);
  else if (!answered)
    Reply(Result::Ok);
}

// Dialling, answering and going online end the line and give their own result.
bool DemoModem::RunCommands(std::string_view commands, Clock::time_point at, bool& answered) {
  while (!commands.empty() && !answered) {
    const char command = Upper(commands.front());
    commands.remove_prefix(1);
    if (command != ' ' && !RunOne(command, commands, at, answered)) return false;
  }
  return true;
}

bool DemoModem::RunOne(char command, std::string_view& rest, Clock::time_point at, bool& answered) {
  switch (command) {
    case 'E':
    case 'V':
    case 'Q': {
      const int n = TakeNumber(rest, 0);
      if (n > 1) return false;
      (command == 'E' ? echo_ : command == 'V' ? verbose_ : quiet_) = n == 1;
      return true;
    }
    case 'Z':
      if (TakeNumber(rest, 0) != 0) return false;
      if (Connected()) HangUp();
      Defaults();
      return true;
    case '&':
      if (rest.empty() || Upper(rest.front()) != 'F') return false;
      rest.remove_prefix(1);
      if (TakeNumber(rest, 0) != 0) return false;
      Defaults();
      return true;
    case 'S': {
      const int reg = TakeNumber(rest, -1);
      if (reg < 0 || reg > 255 || rest.empty() || rest.front() != '=') return false;
      rest.remove_prefix(1);
      const int value = TakeNumber(rest, 0);
      if (value > 255) return false;
      registers_[reg] = value;
      return true;
    }
    case 'H':
      if (TakeNumber(rest, 0) != 0) return false;
      if (Connected()) HangUp();
      return true;
    case 'I':
      TakeNumber(rest, 0);
      Info();
      return true;
    case 'A':  // no call ever comes in on this line
      answered = true;
      Reply(Result::NoCarrier);
      return true;
    case 'O':
      if (TakeNumber(rest, 0) != 0) return false;
      answered = true;
      if (!Connected()) {
        Reply(Result::NoCarrier);
        return true;
      }
      mode_ = Mode::Online;
      lastRx_ = at;
      plusses_ = 0;
      Reply(Result::Connect);
      return true;
    case 'D':
      if (Connected()) return false;
      answered = true;
      Dial(rest, at);
      return true;
    default:
      return false;
  }
}

// Tone or pulse, with or without dashes: only the digits pick the line.
void DemoModem::Dial(std::string_view number, Clock::time_point at) {
  std::string digits;
  for (const char c : number)
    if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
  dialFails_ = digits.empty() || digits == kDeadNumber;
  dialDone_ = at + (dialFails_ ? std::chrono::duration_cast<Clock::duration>(kBusyTime)
                               : std::chrono::duration_cast<Clock::duration>(kDialTime));
  mode_ = Mode::Dialing;
}

void DemoModem::Reply(Result result) {
  if (quiet_) return;
  if (!verbose_) {
    port_.Send(std::to_string(static_cast<int>(result)) + "\r");
    return;
  }
  std::string text;
  switch (result) {
    case Result::Ok:
      text = "OK";
      break;
    case Result::Connect:
      text = "CONNECT " + std::string(kConnectSpeed);
      break;
    case Result::NoCarrier:
      text = "NO CARRIER";
      break;
    case Result::Error:
      text = "ERROR";
      break;
  }
  port_.Send("\r\n" + text + "\r\n");
}

void DemoModem::Info() {
  const std::string identity(kIdentity);
  port_.Send(verbose_ ? "\r\n" + identity + "\r\n" : identity + "\r\n");
}

void DemoModem::Connect(Clock::time_point at) {
  mode_ = Mode::Online;
  lastRx_ = at;
  plusses_ = 0;
  Reply(Result::Connect);
  port_.SetCarrier(true);
  host_.Connected();
}

void DemoModem::HangUp() {
  port_.SetCarrier(false);
  mode_ = Mode::Command;
  plusses_ = 0;
  line_.clear();
  host_.Disconnected();
}

void DemoModem::Defaults() {
  echo_ = true;
  verbose_ = true;
  quiet_ = false;
  registers_.clear();
}
