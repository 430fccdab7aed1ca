#include "DemoHost.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "Check.h"
#include "DemoLine.h"
#include "DemoTexts.h"
#include "Engine.h"
#include "Names.h"

namespace {

using namespace std::chrono_literals;

// The engine gives no sign when a transfer ends; look this often.
constexpr auto kTransferCheck = 50ms;
// The terminal leaves its transfer mode after the last bytes; the result
// waits for this much quiet so that it is shown as text.
constexpr auto kSettleTime = 1s;

void WriteSample(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(DemoSampleFile().data(), static_cast<std::streamsize>(DemoSampleFile().size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

DemoHost::DemoHost(DemoPort& port, std::string folder)
    : port_(port), samplePath_(folder + "/sample.bin"), receivePath_(folder + "/received.bin") {
  WriteSample(samplePath_);
}

void DemoHost::Connected() {
  port_.Send(demotext::Greeting() + demotext::Menu());
  state_ = State::Menu;
}

void DemoHost::Disconnected() {
  if (state_ == State::Transfer && port_.Comm().TranMode.load() != 0) port_.Comm().RequestCancel();
  state_ = State::Idle;
}

// After a blank line, so that it stands apart from what came before.
void DemoHost::ShowMenu() {
  port_.Send("\r\n" + demotext::Menu());
  state_ = State::Menu;
}

void DemoHost::Feed(std::string_view bytes, Clock::time_point at) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    switch (state_) {
      case State::Menu:
        MenuKey(bytes[i]);
        break;
      case State::Protocol:
        ProtocolKey(bytes[i]);
        if (state_ == State::Transfer) return HandOver(bytes.substr(i + 1));
        break;
      case State::Transfer:
        return HandOver(bytes.substr(i));
      case State::Echo:
        EchoByte(bytes[i]);
        break;
      case State::Settle:
        quietSince_ = at;
        break;
      default:
        break;
    }
  }
}

void DemoHost::MenuKey(char key) {
  switch (std::toupper(static_cast<unsigned char>(key))) {
    case '1':
      port_.Send(demotext::Board());
      ShowMenu();
      break;
    case '2':
    case '3':
      hostSends_ = key == '2';
      port_.Send(demotext::ProtocolList());
      state_ = State::Protocol;
      break;
    case '4':
      port_.Send("\r\n" + demotext::Line(demotext::kEchoStart));
      echoLine_.clear();
      state_ = State::Echo;
      break;
    case 'G':
      port_.Send("\r\n" + demotext::Line(demotext::kGoodbye));
      state_ = State::Goodbye;
      break;
    default:
      break;
  }
}

void DemoHost::ProtocolKey(char key) {
  if (key == ESC)
    ShowMenu();
  else if (key >= '1' && key < '1' + kProtocolCount)
    StartTransfer(key - '1');
}

// CR goes back as CR LF; a line holding only "." ends the echo.
void DemoHost::EchoByte(char c) {
  if (c == '\r' || c == '\n') {
    port_.Send(c == '\r' ? "\r\n" : "\n");
    if (echoLine_ == ".") {
      port_.Send(demotext::Line(demotext::kEchoEnd));
      ShowMenu();
    }
    echoLine_.clear();
    return;
  }
  port_.Send(std::string_view(&c, 1));
  if (c == '\b') {
    if (!echoLine_.empty()) echoLine_.pop_back();
  } else if (echoLine_.size() < 2) {
    echoLine_ += c;  // enough to tell "." from anything else
  }
}

void DemoHost::StartTransfer(int protocol) {
  TKELCOMM& comm = port_.Comm();
  port_.Send("\r\n" +
             demotext::Line(hostSends_ ? demotext::kDownloadStart : demotext::kUploadStart));
  comm.Protocol = static_cast<protType>(protocol);
  std::error_code ignored;
  std::filesystem::remove(receivePath_, ignored);
  if (hostSends_)
    comm.StartUpload(samplePath_);
  else
    comm.StartDownload(receivePath_);
  state_ = State::Transfer;
}

// The caller may have answered the start already: what came after the key,
// and what arrived before the engine took the line over, belongs to the
// transfer.
void DemoHost::HandOver(std::string_view rest) {
  TKelEngine& engine = port_.Comm().Engine();
  const bool running = port_.Comm().TranMode.load() != 0;
  const auto deliver = [&](std::string_view bytes) {
    if (running && !bytes.empty())
      engine.Deliver(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  deliver(rest);
  for (const DemoPort::Chunk& chunk : port_.TakeInput()) deliver(chunk.bytes);
}

bool DemoHost::Step(Clock::time_point now) {
  if (state_ == State::Transfer && port_.Comm().TranMode.load() == 0) {
    state_ = State::Settle;
    quietSince_ = now;
  }
  if (state_ == State::Settle && now - quietSince_ >= kSettleTime) Report();
  return state_ == State::Goodbye && port_.UntilSent() == Clock::duration::zero();
}

DemoHost::Clock::time_point DemoHost::NextDeadline(Clock::time_point now) const {
  switch (state_) {
    case State::Transfer:
      return now + kTransferCheck;
    case State::Settle:
      return quietSince_ + kSettleTime;
    case State::Goodbye:
      return now + port_.UntilSent();
    default:
      return Clock::time_point::max();
  }
}

void DemoHost::Report() {
  const bool good = port_.Comm().TranResult.load() == 1;
  std::string text = "\r\n";
  if (!good)
    text += demotext::Line(demotext::kTransferFailed);
  else if (hostSends_)
    text += demotext::Line(demotext::kTransferDone);
  else
    text += ReceivedReport();
  port_.Send(text);
  std::error_code ignored;
  std::filesystem::remove(receivePath_, ignored);
  ShowMenu();
}

// The size and CRC-32 of what arrived, under the name the caller announced.
std::string DemoHost::ReceivedReport() {
  std::ifstream in(receivePath_, std::ios::binary);
  if (!in) return demotext::Line(demotext::kTransferFailed);
  TKelCheck check;
  check.CheckMode = kCheckCrc32;
  check.CheckReset();
  uint64_t size = 0;
  char buffer[8192];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    check.CheckBlock(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(in.gcount()));
    size += static_cast<uint64_t>(in.gcount());
  }
  const std::string name = port_.Comm().Status.RecvName.get();
  return demotext::ReceivedReport(
      name.empty() ? demotext::ToSjis(demotext::kNoName) : VisibleName(name), size,
      ~check.CheckValue());
}
