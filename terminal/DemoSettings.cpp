#include "DemoSettings.h"

#include <QAction>
#include <QFile>
#include <QListWidget>

#include "KTerm.h"
#include "ProgramFolder.h"
#include "ShiftJis.h"

namespace {

const char kSettingsFileName[] = "Kelterm.ini";
constexpr size_t kFirstDeviceLine = 4;  // COM1

}  // namespace

TSettingList DemoSettings(const std::string& lineName) {
  TSettingList settings = TSettingList::Defaults();
  settings.Lines[kFirstDeviceLine] = "virtual:" + lineName;
  // Name, number and log template; the rest of the entry stays empty, as
  // "追加" leaves it.
  settings.Lines.push_back(ToShiftJis(QStringLiteral("デモホスト")));
  settings.Lines.push_back("03-1234-5678");
  settings.Lines.push_back("DEMO%y%M%D.LOG");
  settings.Lines.resize(TSettingList::kModemLines + TSettingList::kEntryLines);
  return settings;
}

bool WriteDemoSettings(const std::string& lineName) {
  // NewOnly creates the file or fails: whatever already stands under the
  // name (a file, a damaged or unreadable one, a dangling link) stays.
  QFile file(ProgramFilePath(QString::fromLatin1(kSettingsFileName)));
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
  const std::string bytes = DemoSettings(lineName).ToBytes();
  const bool whole = file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                         static_cast<qint64>(bytes.size()) &&
                     file.flush();
  file.close();
  // A torn file would be read as the user's settings and kept from then on.
  if (!whole || file.error() != QFileDevice::NoError) {
    file.remove();
    return false;
  }
  return true;
}

void ShowDemoEntry(TKelTerm& form) {
  if (!form.NetSetting->isChecked()) form.NetSettingClick();
  if (form.NetList->count() == 0) return;
  form.NetList->setCurrentRow(0);
  form.NetListClick();
}
