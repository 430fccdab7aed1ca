#include "TransferView.h"

#include <QFile>
#include <algorithm>

#include "Names.h"
#include "ShiftJis.h"

namespace {

constexpr size_t kMaxFileNameBytes = 255;
constexpr int64_t kUnmeasuredSecondsLeft = 3600;

QString FromLocalPath(const std::string& bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// Backs off to the start of the UTF-8 character that holds byte `at`.
size_t CharacterStart(std::string_view text, size_t at) {
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return at;
}

QString Description(const TTransferSnapshot& s) {
  const TPathParts parts = SplitLocalPath(s.FilePath);
  return FromLocalPath(parts.FileName) + QLatin1Char(',') + FromShiftJis(VisibleName(s.RecvName)) +
         FromShiftJis(s.SendName) + QStringLiteral(" (") + FromLocalPath(parts.Folder) +
         QLatin1Char(')');
}

QString ProtocolText(const TTransferSnapshot& s) {
  const int index = std::clamp<int>(s.Protocol, 0, kProtocolCount - 1);
  QString text = QString::fromUtf8(ProtocolNames[static_cast<size_t>(index)]);
  if (s.TranMode == 1) text += QStringLiteral(" アップロード");
  if (s.TranMode == 2) text += QStringLiteral(" ダウンロード");
  return text;
}

}  // namespace

TTransferSnapshot TransferSnapshotOf(const TKELCOMM& comm) {
  TTransferSnapshot s;
  s.TranMode = comm.TranMode.load();
  s.Protocol = comm.Protocol.load();
  s.StartTick = comm.Status.StartTick.load();
  s.FileSize = comm.Status.FileSize.load();
  s.TranSize = comm.Status.TranSize.load();
  s.FilePath = comm.Status.FilePath.get();
  s.SendName = comm.Status.SendName.get();
  s.RecvName = comm.Status.RecvName.get();
  return s;
}

TPathParts SplitLocalPath(std::string_view path) {
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  std::string_view name = path.substr(nameStart);
  if (name.size() > kMaxFileNameBytes)
    name = name.substr(0, CharacterStart(name, kMaxFileNameBytes));
  return {std::string(path.substr(0, nameStart)), std::string(name)};
}

QString ClockText(int64_t seconds) {
  return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(seconds / 3600),
                           static_cast<long long>(seconds / 60 % 60),
                           static_cast<long long>(seconds % 60));
}

TTransferTexts TransferTexts(const TTransferSnapshot& s, uint32_t now) {
  TTransferTexts t;
  t.File_Name = Description(s);
  // Bytes sent again after an error count for the speed, but the count
  // shown never passes the size the file was announced with.
  const int32_t shown =
      s.FileSize == kUnknownFileSize ? s.TranSize : std::min(s.TranSize, s.FileSize);
  t.File_Size = QString::asprintf("%d / %d", shown, s.FileSize);
  // Unsigned difference: the tick counter may have wrapped since the start.
  const int64_t seconds = static_cast<uint32_t>(now - s.StartTick) / 1000;
  const int64_t speed = seconds > 0 ? s.TranSize / seconds : 0;
  t.TranSpeed = seconds > 0 ? QString::number(speed) : QStringLiteral("計測不可能");
  t.TranTime = ClockText(seconds);
  // A receiver may count more than the announced size (padding): the
  // estimate then stops at zero instead of going negative.
  const int64_t left = speed > 0 ? std::max<int64_t>(0, (int64_t{s.FileSize} - s.TranSize) / speed)
                                 : kUnmeasuredSecondsLeft;
  t.TranTimeLeft = s.FileSize == kUnknownFileSize ? QStringLiteral("予測不可能") : ClockText(left);
  t.Protocol = ProtocolText(s);
  return t;
}
