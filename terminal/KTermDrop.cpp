// Files dropped on the terminal screen are uploaded with the protocol in the
// toolbar's list, several in one session where the protocol carries a batch.
// A drop that cannot start says why on the status bar rather than refusing
// the drag, so the user learns what to do.
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

#include "KTerm.h"
#include "KelApplication.h"
#include "Names.h"
#include "TransferView.h"

namespace {

// The dropped local files in their order; none when anything dropped is not
// a file (a folder, a web address).
QStringList DroppedFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) return {};
    files << url.toLocalFile();
  }
  return files;
}

}  // namespace

bool TKelTerm::ScreenDragAndDrop(QEvent* Event) {
  // The drag's enter and move events are drop events too.
  auto* drop = static_cast<QDropEvent*>(Event);
  const QStringList files = DroppedFiles(drop->mimeData());
  if (files.isEmpty()) return false;
  drop->acceptProposedAction();
  if (Event->type() == QEvent::Drop) DropFiles(files);
  return true;
}

QString TKelTerm::DropRefusal(int Count) const {
  if (!PortOC->isChecked()) return QStringLiteral("通信ポートがオープンされていません.");
  if (KELCOMM1->TranMode.load() != 0) return QStringLiteral("ファイル転送中です.");
  if (Count > 1 && !CarriesBatches(static_cast<protType>(Protocol->currentIndex())))
    return QStringLiteral("このプロトコルで送れるファイルは1つです.");
  return QString();
}

void TKelTerm::DropFiles(const QStringList& Files) {
  const QString refusal = DropRefusal(static_cast<int>(Files.size()));
  if (!refusal.isEmpty()) {
    SetStatusText(refusal);
    return;
  }
  ProtocolChange();  // the list's choice, also after a transfer the host started
  std::vector<TUploadFile> batch;
  for (const QString& file : Files) {
    const std::string path = QFile::encodeName(file).toStdString();
    batch.push_back({path, AnnouncedName(SplitLocalPath(path).FileName)});
  }
  try {
    KELCOMM1->StartUploads(batch);
  } catch (const std::exception& e) {
    ShowErrorBox(FailureText("ファイルを読み込めません.", e.what()));
    return;
  }
  // Refused with the port open and idle: a file is empty.
  if (KELCOMM1->TranMode.load() == 0)
    SetStatusText(QStringLiteral("空のファイルは送れません."));
  else
    CommStatusShow();
}
