#pragma once
// The demo line: a simulated Hayes modem with a small host behind it, on the
// far end (end 1) of an in-process virtual line. KelTerm opens the near end
// as "virtual:NAME" like any serial device, dials, and talks to the host in
// Shift-JIS. The modem and host run on a thread of their own; the host's file
// transfers run on our transfer engine.
//
// Threading: construct and destroy from one thread; everything else happens
// on the demo's own threads.

#include <memory>
#include <string>

class DemoLine {
 public:
  // Registers the virtual line `name` and starts the modem on its far end.
  // The line is paced at lineSpeed bit/s, as a real modem link would be;
  // 0 moves bytes at once (tests).
  explicit DemoLine(const std::string& name = "demo", int lineSpeed = 38400);
  // Stops the modem and host (cancelling a running transfer) and
  // unregisters the line.
  ~DemoLine();
  DemoLine(const DemoLine&) = delete;
  DemoLine& operator=(const DemoLine&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The bytes of the host's sample download, the same on every call.
const std::string& DemoSampleFile();
