#include "SerialDevice.h"

#include <cerrno>

#include "PosixSerialDevice.h"
#include "VirtualLine.h"

namespace {

constexpr std::string_view kVirtualPrefix = "virtual:";

std::shared_ptr<SerialDevice> OpenVirtual(std::string_view where) {
  int index = 0;
  std::string name(where);
  if (auto slash = name.rfind('/'); slash != std::string::npos) {
    std::string suffix = name.substr(slash + 1);
    if (suffix != "0" && suffix != "1") {
      errno = ENOENT;
      return nullptr;
    }
    index = suffix == "1" ? 1 : 0;
    name.resize(slash);
  }
  auto line = VirtualLine::Find(name);
  if (!line) {
    errno = ENOENT;
    return nullptr;
  }
  return line->OpenEnd(index);
}

}  // namespace

std::shared_ptr<SerialDevice> OpenSerialDevice(const std::string& path) {
  if (path.starts_with(kVirtualPrefix))
    return OpenVirtual(std::string_view(path).substr(kVirtualPrefix.size()));
  return OpenPosixDevice(path);
}
