#include "DeviceFollow.h"

#include <sys/stat.h>

#include <QSocketNotifier>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The folder of the node a path leads to, when it is a link elsewhere.
std::string TargetFolder(const std::string& path) {
  std::error_code error;
  const fs::path target = fs::weakly_canonical(path, error);
  return error ? std::string() : target.parent_path().string();
}

}  // namespace

TDeviceFollow::TDeviceFollow(QObject* parent) : QObject(parent) {
  if (watch_.Fd() < 0) return;
  notifier_ = new QSocketNotifier(watch_.Fd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    if (watch_.TakeChanges() && OnChange) OnChange();
  });
  Rewatch();
}

void TDeviceFollow::SetRoot(std::string root) {
  root_ = std::move(root);
  Rewatch();
  if (OnChange) OnChange();
}

void TDeviceFollow::FollowPath(std::string path) {
  path_ = Followed(path) ? std::move(path) : std::string();
  Rewatch();
}

void TDeviceFollow::Rewatch() {
  std::vector<std::string> folders{root_, root_ + "/serial/by-id"};
  if (!path_.empty()) {
    folders.push_back(fs::path(path_).parent_path().string());
    folders.push_back(TargetFolder(path_));
  }
  watch_.SetFolders(std::move(folders));
}

void TDeviceFollow::Vanished(std::string path) {
  awaited_ = Followed(path) ? std::move(path) : std::string();
  seenGone_ = !Present(awaited_);
  vanishedAt_ = Clock::now();
}

void TDeviceFollow::Forget() { awaited_.clear(); }

// A node that hung up may stay a moment before it is removed: only its
// return after it was seen gone counts.
std::string TDeviceFollow::Returned() {
  if (awaited_.empty()) return {};
  if (Clock::now() - vanishedAt_ >= ReturnLimit) {
    Forget();
    return {};
  }
  if (!Present(awaited_)) {
    seenGone_ = true;
    return {};
  }
  return seenGone_ ? awaited_ : std::string();
}

bool TDeviceFollow::Present(const std::string& path) {
  struct stat node {};
  return stat(path.c_str(), &node) == 0;
}
