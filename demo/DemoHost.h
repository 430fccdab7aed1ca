#pragma once
// The host behind the demo modem: a menu, a bulletin board, downloads and
// uploads with every protocol of our transfer engine, an echo mode and a
// goodbye that ends the call. It speaks Shift-JIS; keys are single bytes and
// whatever it does not expect at a prompt is ignored.
//
// Threading: the demo thread's. A transfer runs on the component's worker;
// the host only starts it, looks at TranMode to learn that it has ended
// (the engine gives no other sign) and cancels it when the call ends.

#include <chrono>
#include <string>
#include <string_view>

#include "DemoPort.h"

class DemoHost {
 public:
  using Clock = std::chrono::steady_clock;

  // folder: a private folder for the sample file and received files.
  DemoHost(DemoPort& port, std::string folder);

  void Connected();     // the call is up: greeting and menu
  void Disconnected();  // the call is gone: a running transfer is cancelled
  // Bytes from the caller. Those that follow the start of a transfer go to
  // the transfer engine.
  void Feed(std::string_view bytes, Clock::time_point at);
  // Runs what has fallen due; true once the goodbye has reached the caller
  // and the line is to be dropped.
  bool Step(Clock::time_point now);
  Clock::time_point NextDeadline(Clock::time_point now) const;

 private:
  enum class State { Idle, Menu, Protocol, Transfer, Settle, Echo, Goodbye };

  void MenuKey(char key);
  void ProtocolKey(char key);
  void EchoByte(char c);
  void StartTransfer(int protocol);
  void HandOver(std::string_view rest);
  void Report();
  std::string ReceivedReport();
  void ShowMenu();

  DemoPort& port_;
  const std::string samplePath_;
  const std::string receivePath_;
  State state_ = State::Idle;
  bool hostSends_ = false;  // the running transfer is a download
  std::string echoLine_;
  Clock::time_point quietSince_{};
};
