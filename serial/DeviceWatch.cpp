#include "DeviceWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Attributes count: udev gives a new node its group only after it appears,
// and a port that did not open a moment ago may open then.
constexpr uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                              IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The folder itself when it exists, else its nearest existing parent.
std::string NearestFolder(fs::path folder) {
  std::error_code error;
  while (!fs::is_directory(folder, error) && folder.has_relative_path())
    folder = folder.parent_path();
  return folder.string();
}

}  // namespace

TDeviceWatch::TDeviceWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

TDeviceWatch::~TDeviceWatch() {
  if (fd_ >= 0) close(fd_);
}

void TDeviceWatch::SetFolders(std::vector<std::string> folders) {
  folders_ = std::move(folders);
  Rewatch();
}

// A watch added again for the same folder keeps its descriptor, so only the
// folders no longer wanted need removing.
void TDeviceWatch::Rewatch() {
  if (fd_ < 0) return;
  std::set<std::string> wanted;
  for (const std::string& folder : folders_)
    if (!folder.empty()) wanted.insert(NearestFolder(folder));
  std::map<int, std::string> watches;
  for (const std::string& folder : wanted) {
    const int wd = inotify_add_watch(fd_, folder.c_str(), kChanges);
    if (wd >= 0) watches[wd] = folder;
  }
  for (const auto& [wd, folder] : watches_)
    if (!watches.count(wd)) inotify_rm_watch(fd_, wd);
  watches_ = std::move(watches);
}

bool TDeviceWatch::TakeChanges() {
  if (fd_ < 0) return false;
  alignas(inotify_event) char buffer[4096];
  bool changed = false;
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_IGNORED) watches_.erase(event->wd);  // the folder went
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    changed = true;
  }
  if (changed) Rewatch();
  return changed;
}
