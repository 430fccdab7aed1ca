// Transfers started from the window, the file dialog answered as a user
// would, against our own component on the far end of a paced virtual line:
// the progress dialog while the bytes move, the file whole, the terminal's
// receive path back afterwards, and 中止. Files dropped on the screen go to a
// host's rz.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include "KCommSDg.h"
#include "Peers.h"
#include "WindowTestSupport.h"

namespace {

struct Row {
  const char* name;
  protType protocol;
  bool upload;  // the window sends
  bool cancel;  // 中止 is pressed once the bytes move
  QString caption;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class TransferWindowTest : public ::testing::TestWithParam<Row> {
 protected:
  // The sender goes first: an invitation sent before it runs would be lost.
  void Start(const std::string& data) {
    h.WriteSettings(SettingsWithCom1(line.DevicePath()));
    w = &h.Open();
    w->CommStatus = &dialog;
    w->PortOC->click();
    w->Protocol->setCurrentIndex(GetParam().protocol);
    peer.comm.Times.PatienceMs = 2000;  // a cancelled peer gives up soon
    ASSERT_TRUE(WriteFile(dir / "source.bin", data));
    if (GetParam().upload) {
      FileDialogAnswer answer(w->OpenDialog1, QString::fromStdString(dir / "source.bin"));
      w->SpeedButton7->click();
      peer.comm.StartDownload(dir / "got.bin");
    } else {
      peer.comm.StartUpload(dir / "source.bin", "source.bin");
      FileDialogAnswer answer(w->SaveDialog1, QString::fromStdString(dir / "got.bin"));
      w->KXMODEM128SUM_DOWNLOAD->trigger();
    }
    ASSERT_NE(w->KELCOMM1->TranMode.load(), 0) << "the transfer started";
  }
  // Waits for both ends and the dialog to finish; notes the protocol and
  // size captions that the dialog showed meanwhile.
  bool RunToTheEnd() {
    return WaitUntil(
        [&] {
          if (dialog.isVisible() && w->KELCOMM1->TranMode != 0)
            shown << dialog.Protocol->text() + "|" + dialog.File_Size->text();
          return w->KELCOMM1->TranMode == 0 && peer.comm.TranMode == 0 && !dialog.isVisible();
        },
        30s);
  }

  TestLine line{115200};  // a transfer lasts several ticks
  Station peer{line.DevicePath() + "/1", GetParam().protocol};
  TempDir dir;
  TCommStatus dialog;  // outlives the window, whose close still ticks
  QStringList shown;
  WindowHarness h;
  TKelTerm* w = nullptr;
};

// 中止 only asks: the dialog stays up until the worker has stopped, and the
// far end is told. Either way the terminal has the line back at the end.
TEST_P(TransferWindowTest, DialogFollowsTheTransferAndTheScreenHasTheLineBack) {
  const Row& r = GetParam();
  const std::string data = RandomBytes(r.cancel ? 100000 : 12000, 3);
  Start(data);
  if (r.cancel) {
    ASSERT_TRUE(WaitUntil([&] { return w->KELCOMM1->Status.TranSize.load() > 0; }, 10s));
    dialog.CANCEL->click();
    EXPECT_TRUE(dialog.isVisible());
  }
  ASSERT_TRUE(RunToTheEnd()) << "the tick after the end hides the dialog";
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), r.cancel ? 0 : 1);
  EXPECT_EQ(peer.comm.TranResult.load(), r.cancel ? 0 : 1);
  const std::string got = ReadFile(dir / "got.bin");
  if (r.cancel) {
    EXPECT_LT(got.size(), data.size());
  } else {
    EXPECT_EQ(got, r.upload ? data : PaddedTo(data, 1024));
  }
  ASSERT_FALSE(shown.isEmpty()) << "the dialog was up while the bytes moved";
  EXPECT_TRUE(shown.first().startsWith(r.caption + "|")) << shown.first().toStdString();
  // The CR first ends whatever a cancelled sender's last block left as text.
  peer.comm.WriteString("\rback to the terminal\r\n");
  EXPECT_TRUE(WaitUntil([&] {
    return std::ranges::any_of(w->ScreenRows(),
                               [](const std::string& row) { return row.starts_with("back to"); });
  })) << "the window's receive handler is back";
}

INSTANTIATE_TEST_SUITE_P(
    Window, TransferWindowTest,
    ::testing::Values(Row{"ZmodemUpload", pr_ZMODEM, true, false, "ZMODEM アップロード"},
                      Row{"Xmodem1kDownload", pr_XMODEM_CRC_1024, false, false,
                          "XMODEM [CRC] 1024byte ダウンロード"},
                      Row{"ZmodemUploadCancelled", pr_ZMODEM, true, true, "ZMODEM アップロード"},
                      Row{"Xmodem1kDownloadCancelled", pr_XMODEM_CRC_1024, false, true,
                          "XMODEM [CRC] 1024byte ダウンロード"}),
    [](const auto& info) { return std::string(info.param.name); });

// Drags the files onto the terminal screen and drops them there, as a file
// manager does; true when the screen took both events.
bool DropOnScreen(TKelTerm& w, const std::vector<std::string>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
  data.setUrls(urls);
  const QPoint at = w.TextDrawBox->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  return QApplication::sendEvent(w.TextDrawBox, &enter) && enter.isAccepted() &&
         QApplication::sendEvent(w.TextDrawBox, &drop) && drop.isAccepted();
}

TEST(DropOnScreen, FilesGoToTheHostInOneSessionOrTheBarSaysWhy) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "rz"}));
  TempDir dir;
  const std::vector<std::string> files{dir / "one.bin", dir / "two.bin"};
  ASSERT_TRUE(WriteFile(files[0], RandomBytes(30000, 1)) && WriteFile(files[1], "two"));
  LrzszPeer host(dir, "mkdir got && cd got && rz");
  ASSERT_TRUE(host.Ready());
  WindowHarness h;
  h.WriteSettings(SettingsWithCom1(host.device()));
  TKelTerm& w = h.Open();
  const struct {
    protType protocol;
    QString said;
  } refused[] = {{pr_ZMODEM, "通信ポートがオープンされていません."},
                 {pr_XMODEM_CRC_1024, "このプロトコルで送れるファイルは1つです."}};
  for (const auto& r : refused) {
    w.Protocol->setCurrentIndex(r.protocol);
    EXPECT_TRUE(DropOnScreen(w, files));
    EXPECT_EQ(w.StatusText(), r.said);
    EXPECT_EQ(w.KELCOMM1->TranMode.load(), 0);
    if (!w.PortOC->isChecked()) w.PortOC->click();
  }
  w.Protocol->setCurrentIndex(pr_ZMODEM);
  ASSERT_TRUE(DropOnScreen(w, files));
  EXPECT_NE(w.KELCOMM1->TranMode.load(), 0);
  DropOnScreen(w, {files[0]});
  EXPECT_EQ(w.StatusText(), "ファイル転送中です.");
  ASSERT_TRUE(WaitUntil([&] { return w.KELCOMM1->TranMode == 0; }, 60s));
  EXPECT_EQ(w.KELCOMM1->TranResult.load(), 1) << host.Log();
  EXPECT_EQ(ReadFile(dir / "got/one.bin"), ReadFile(files[0]));
  EXPECT_EQ(ReadFile(dir / "got/two.bin"), "two");
  EXPECT_TRUE(host.WaitExit(30000));
}

}  // namespace
