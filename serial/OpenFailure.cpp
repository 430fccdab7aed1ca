#include "OpenFailure.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "SerialDevices.h"

namespace {

std::string Joined(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& p : paths) text += (text.empty() ? "" : ", ") + p;
  return text;
}

// A UUCP lock file LCK..NAME holds its owner's PID, as text or as a 4-byte
// binary number.
pid_t UucpLockHolder(const std::string& path, const std::string& lockFolder) {
  const std::string name = path.substr(path.rfind('/') + 1);
  std::ifstream in(lockFolder + "/LCK.." + name, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  if (content.size() == sizeof(int32_t)) {
    int32_t pid = 0;
    std::memcpy(&pid, content.data(), sizeof pid);
    return pid > 0 ? pid : 0;
  }
  std::istringstream text(content);
  long pid = 0;
  return text >> pid && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// A lock on the node shows in /proc/locks as "N: FLOCK ADVISORY WRITE PID
// MAJ:MIN:INODE START END", the file system's numbers in hex.
pid_t ProcLocksHolder(const struct stat& node) {
  std::ifstream in("/proc/locks");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (!(fields >> number >> kind >> mode >> access >> pid >> where)) continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
    if (makedev(major, minor) == node.st_dev && inode == node.st_ino && pid > 0)
      return static_cast<pid_t>(pid);
  }
  return 0;
}

// Joining the node's group helps only when the group may read and write it.
std::string GroupThatMayOpen(const struct stat& node) {
  if ((node.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {};
  const group* g = getgrgid(node.st_gid);
  return g && g->gr_gid != 0 ? g->gr_name : std::string();
}

}  // namespace

OpenFailure ExplainOpenFailure(const std::string& path, int error, const std::string& deviceRoot,
                               const std::string& lockFolder) {
  OpenFailure f;
  f.path = path;
  f.error = error;
  struct stat node {};
  const bool exists = stat(path.c_str(), &node) == 0;
  if (error == EBUSY || error == EWOULDBLOCK) {
    f.kind = OpenFailure::Kind::Busy;
    f.holder = UucpLockHolder(path, lockFolder);
    if (!f.holder && exists) f.holder = ProcLocksHolder(node);
  } else if (!exists || error == ENOENT || error == ENODEV || error == ENXIO) {
    f.kind = OpenFailure::Kind::Missing;
    f.present = ListSerialDevices(deviceRoot);
  } else if (error == EACCES || error == EPERM) {
    f.kind = OpenFailure::Kind::NotAllowed;
    f.group = GroupThatMayOpen(node);
  }
  return f;
}

std::string OpenFailure::Japanese() const {
  switch (kind) {
    case Kind::Busy:
      return path + " は他のプログラム" +
             (holder ? " (PID " + std::to_string(holder) + ")" : std::string()) + " が使用中です.";
    case Kind::Missing:
      return path + " はありません. " +
             (present.empty() ? "シリアルデバイスが見つかりません."
                              : "あるデバイス: " + Joined(present));
    case Kind::NotAllowed:
      return group.empty()
                 ? path + " を使う権限がありません."
                 : path + " を使うには " + group + " グループに入り, ログインし直してください.";
    case Kind::Other:
      break;
  }
  return path + " をオープンできません (" + std::strerror(error) + ").";
}

std::string OpenFailure::English() const {
  std::string why;
  switch (kind) {
    case Kind::Busy:
      why = "in use by another program" +
            (holder ? " (PID " + std::to_string(holder) + ")" : std::string());
      break;
    case Kind::Missing:
      why = "no such device; " +
            (present.empty() ? "no serial devices found" : "devices present: " + Joined(present));
      break;
    case Kind::NotAllowed:
      why = group.empty() ? "permission denied"
                          : "permission denied; join the group " + group + " and log in again";
      break;
    case Kind::Other:
      why = std::strerror(error);
      break;
  }
  return "cannot open " + path + ": " + why;
}
