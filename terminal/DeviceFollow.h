#pragma once
// Follows the serial devices as they come and go. It watches the device
// folders, and the folders of the port's own path and of the node that path
// leads to, through one descriptor on the main thread's event loop; and it
// remembers a session that ended because its device vanished, so that the
// port can open again when the same path comes back. Main thread only.

#include <QObject>
#include <chrono>
#include <functional>
#include <string>

#include "DeviceWatch.h"

class QSocketNotifier;

class TDeviceFollow : public QObject {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TDeviceFollow(QObject* parent);

  // Where the device nodes live: "/dev", or a folder standing in for it.
  const std::string& Root() const { return root_; }
  void SetRoot(std::string root);
  // The path the port uses now; "" or a virtual line follows nothing.
  void FollowPath(std::string path);
  // Runs after anything in the watched folders changed (and after SetRoot).
  std::function<void()> OnChange;

  // The port's device vanished while the session was open: its coming back
  // within ReturnLimit may open the port again.
  void Vanished(std::string path);
  // The user did something to the port: nothing is awaited any more.
  void Forget();
  // The awaited path when it has come back since it was seen gone, within
  // the limit; "" otherwise. Forgets it once the limit has passed.
  std::string Returned();
  std::chrono::milliseconds ReturnLimit{std::chrono::minutes(5)};

  // Whether a device path names something in the file system now.
  static bool Present(const std::string& path);
  static bool Followed(const std::string& path) { return !path.empty() && path[0] == '/'; }

 private:
  void Rewatch();

  TDeviceWatch watch_;
  QSocketNotifier* notifier_ = nullptr;
  std::string root_ = "/dev";
  std::string path_;     // the port's path
  std::string awaited_;  // the vanished session's path, or ""
  bool seenGone_ = false;
  Clock::time_point vanishedAt_;
};
