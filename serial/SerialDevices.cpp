#include "SerialDevices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Orders names so that a run of digits compares by its value.
bool NaturalLess(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (std::isdigit(ca) && std::isdigit(cb)) {
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string_view na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
      while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
      continue;
    }
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

// The entries of folder whose names start with prefix, folders left out.
std::vector<std::string> EntriesStartingWith(const fs::path& folder, std::string_view prefix) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(folder, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::error_code kindError;
    if (it->is_directory(kindError)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  return names;
}

}  // namespace

std::vector<std::string> ListSerialDevices(const std::string& root) {
  const fs::path dev(root);
  std::vector<std::string> paths;
  const fs::path byId = dev / "serial" / "by-id";
  for (const std::string& name : EntriesStartingWith(byId, ""))
    paths.push_back((byId / name).string());
  for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"})
    for (const std::string& name : EntriesStartingWith(dev, prefix))
      paths.push_back((dev / name).string());
  return paths;
}

std::string DefaultSerialDevice(int port) { return "/dev/ttyS" + std::to_string(port - 1); }
