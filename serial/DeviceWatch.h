#pragma once
// Watches folders of device nodes for entries that come and go. One inotify
// descriptor carries every change; the owner waits on it in its own event
// loop and calls TakeChanges when it is readable, so nothing here polls or
// runs a thread. A folder that does not exist yet (/dev/serial/by-id before
// the first adapter) is stood in for by its nearest existing parent until it
// appears. Owner's thread only.

#include <map>
#include <string>
#include <vector>

class TDeviceWatch {
 public:
  TDeviceWatch();
  ~TDeviceWatch();
  TDeviceWatch(const TDeviceWatch&) = delete;
  TDeviceWatch& operator=(const TDeviceWatch&) = delete;

  // The descriptor to wait on for reading; -1 when the system gave none.
  int Fd() const { return fd_; }
  // Replaces the folders watched.
  void SetFolders(std::vector<std::string> folders);
  // Takes what the descriptor holds and follows folders that appeared or
  // went; true when anything changed in the watched folders.
  bool TakeChanges();

 private:
  void Rewatch();

  int fd_;
  std::vector<std::string> folders_;
  std::map<int, std::string> watches_;  // the folder of each watch, by its descriptor
};
