#pragma once
// Why a serial device did not open, worked out from the errno of the failed
// open and from the node itself, and told in the window's Japanese or the
// command line's English. Plain functions, any thread.

#include <sys/types.h>

#include <string>
#include <vector>

struct OpenFailure {
  enum class Kind { Other, Busy, Missing, NotAllowed };
  Kind kind = Kind::Other;
  std::string path;
  int error = 0;                     // errno of the failed open
  pid_t holder = 0;                  // Busy: who holds the lock, 0 when it does not tell
  std::vector<std::string> present;  // Missing: the serial devices there are
  std::string group;                 // NotAllowed: the node's group when members may open it

  std::string Japanese() const;
  std::string English() const;  // "cannot open PATH: why"
};

// Reads what the node, its lock and the device folder say about error.
OpenFailure ExplainOpenFailure(const std::string& path, int error,
                               const std::string& deviceRoot = "/dev",
                               const std::string& lockFolder = "/var/lock");
