// Starting transfers from the window, and the progress dialog that follows
// them. The window only asks the transfer component to start and reads what
// it reports; whether a transfer succeeded is not shown, as the dialog simply
// goes away when the component is idle again.
#include <QComboBox>
#include <QFile>
#include <QFileDialog>

#include "KCommSDg.h"
#include "KTerm.h"
#include "KelApplication.h"
#include "Names.h"
#include "TransferView.h"

namespace {

// Names may be typed as well as picked, and there is no filter. The open
// dialog takes any name too: a missing file is the component's to refuse.
QFileDialog* NewFileDialog(QWidget* parent, const char* title, QFileDialog::AcceptMode mode) {
  auto* dialog = new QFileDialog(parent, QString::fromUtf8(title));
  dialog->setAcceptMode(mode);
  dialog->setFileMode(QFileDialog::AnyFile);
  return dialog;
}

constexpr char kUploadTitle[] = "アップロードするファイルの指定";
constexpr char kDownloadTitle[] = "ダウンロードするファイルの指定";

// The chosen path in the file system's encoding; empty when the user
// cancelled. The title is the dialog's own followed by TitleSuffix.
std::string ChoosePath(QFileDialog* dialog, const char* title, const QString& TitleSuffix) {
  dialog->setWindowTitle(QString::fromUtf8(title) + TitleSuffix);
  if (dialog->exec() != QDialog::Accepted) return {};
  const QStringList files = dialog->selectedFiles();
  if (files.isEmpty()) return {};
  return QFile::encodeName(files.first()).toStdString();
}

}  // namespace

void TKelTerm::UpLoadClick() {
  ProtocolChange();  // the list's choice, also after a transfer the host started
  StartChosenUpload(QString());
  FocusScreen();
}

void TKelTerm::DOWNLOADClick() {
  ProtocolChange();
  StartChosenDownload(QString());
  FocusScreen();
}

bool TKelTerm::StartChosenUpload(const QString& TitleSuffix) {
  if (!OpenDialog1) OpenDialog1 = NewFileDialog(this, kUploadTitle, QFileDialog::AcceptOpen);
  const std::string path = ChoosePath(OpenDialog1, kUploadTitle, TitleSuffix);
  if (path.empty()) return false;
  try {
    KELCOMM1->StartUpload(path, AnnouncedName(SplitLocalPath(path).FileName));
    CommStatusShow();
  } catch (const std::exception& e) {
    // The file is there but cannot be read: say so, and nothing starts.
    ShowErrorBox(FailureText("ファイルを読み込めません.", e.what()));
  }
  return KELCOMM1->TranMode != 0;
}

bool TKelTerm::StartChosenDownload(const QString& TitleSuffix) {
  if (!SaveDialog1) SaveDialog1 = NewFileDialog(this, kDownloadTitle, QFileDialog::AcceptSave);
  const std::string path = ChoosePath(SaveDialog1, kDownloadTitle, TitleSuffix);
  if (path.empty()) return false;
  KELCOMM1->StartDownload(path);
  CommStatusShow();
  return KELCOMM1->TranMode != 0;
}

void TKelTerm::SpeedButton7Click() { UpLoadClick(); }

void TKelTerm::SpeedButton10Click() { DOWNLOADClick(); }

// The combo's item index is the protocol's value. A change during a
// transfer only applies to the next one (and to the dialog's caption).
void TKelTerm::ProtocolChange() {
  const int index = Protocol->currentIndex();
  if (index >= 0 && index < kProtocolCount) KELCOMM1->Protocol = static_cast<protType>(index);
}

void TKelTerm::CommStatusShow() {
  if (!CommStatus) return;
  CommStatus->SetTransfer(KELCOMM1.get());
  if (!CommStatus->isVisible()) {
    CommStatus->show();
    CommStatus->raise();
  }
  const TTransferSnapshot status = TransferSnapshotOf(*KELCOMM1);
  if (status.TranMode != 0) CommStatus->ShowTexts(TransferTexts(status, GetTickCount()));
}
