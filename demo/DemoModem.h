#pragma once
// The Hayes modem of the demo line. In command mode it takes AT command lines
// from the KelTerm end and answers with result codes; once it has "dialled"
// it is online and passes the bytes on to the host, until the "+++" escape
// (a second of silence before and after), ATH, a dropped DTR, or the host's
// own hang-up.
//
// Threading: the demo thread's; Step is its one turn.

#include <chrono>
#include <map>
#include <string>
#include <string_view>

#include "DemoHost.h"
#include "DemoPort.h"

class DemoModem {
 public:
  using Clock = std::chrono::steady_clock;

  DemoModem(DemoPort& port, DemoHost& host);

  // Takes what has arrived, follows the DTR and runs what has fallen due.
  void Step(Clock::time_point now);
  // When Step next has something to do without new input.
  Clock::time_point NextDeadline(Clock::time_point now) const;

 private:
  enum class Mode { Command, Dialing, Online, OnlineCommand };
  enum class Result { Ok = 0, Connect = 1, NoCarrier = 3, Error = 4 };

  void CommandByte(char c, Clock::time_point at);
  void OnlineBytes(std::string_view bytes, Clock::time_point at);
  void RunLine(const std::string& line, Clock::time_point at);
  // Runs the commands after "AT"; false on one it does not know.
  bool RunCommands(std::string_view commands, Clock::time_point at, bool& answered);
  bool RunOne(char command, std::string_view& rest, Clock::time_point at, bool& answered);
  void Dial(std::string_view number, Clock::time_point at);
  void Reply(Result result);
  void Info();
  void Connect(Clock::time_point at);
  void HangUp();
  void Defaults();
  bool Connected() const { return mode_ == Mode::Online || mode_ == Mode::OnlineCommand; }

  DemoPort& port_;
  DemoHost& host_;
  Mode mode_ = Mode::Command;
  std::string line_;  // the command line being typed
  bool echo_ = true;
  bool verbose_ = true;
  bool quiet_ = false;
  std::map<int, int> registers_;
  bool dtr_ = false;
  Clock::time_point dialDone_{};
  bool dialFails_ = false;
  Clock::time_point lastRx_{};  // the KelTerm end's last byte while online
  int plusses_ = 0;             // escape characters after a silence
};
