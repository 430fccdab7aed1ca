#include "ProgramFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString& OverrideFolder() {
  static QString folder;
  return folder;
}

QString ExecutableFolder() {
  const QFileInfo exe(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
  return exe.absolutePath();
}

bool IsWritableFolder(const QString& folder) {
  const QFileInfo info(folder);
  return info.isDir() && info.isWritable();
}

// An installed copy has its desktop entry beside bin/. Its bin/ may well be
// writable (a prefix in the user's home, or root's /usr/bin), and is still
// no place for settings and logs.
bool IsInstalledCopy(const QString& folder) {
  return QFileInfo::exists(folder + QStringLiteral("/" KELTERM_INSTALLED_ENTRY));
}

}  // namespace

QString ProgramFolder() {
  if (!OverrideFolder().isEmpty()) return OverrideFolder();
  const QString exeFolder = ExecutableFolder();
  if (!exeFolder.isEmpty() && IsWritableFolder(exeFolder) && !IsInstalledCopy(exeFolder))
    return exeFolder;
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QDir().mkpath(data);
  return data;
}

QString ProgramFilePath(const QString& name) { return ProgramFolder() + QLatin1Char('/') + name; }

void SetProgramFolder(const QString& folder) { OverrideFolder() = folder; }
