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
#include "ZmodemWire.h"

namespace {

struct Row {
  const char* name;
  protType protocol;
  bool upload;  // the window sends
  bool cancel;  // 中止 is pressed once the bytes move
  QString caption;
  bool offered = false;  // the far sender's header offers the download; the list shows XMODEM
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

bool ScreenShows(TKelTerm& w, const std::string& start) {
  const auto shown = [&](const std::string& row) { return row.starts_with(start); };
  return WaitUntil([&] { return std::ranges::any_of(w.ScreenRows(), shown); });
}

class TransferWindowTest : public ::testing::TestWithParam<Row> {
 protected:
  // The sender goes first: an invitation sent before it runs would be lost.
  void Start(const std::string& data) {
    h.WriteSettings(SettingsWithCom1(line.DevicePath()));
    w = &h.Open();
    w->CommStatus = &dialog;
    w->PortOC->click();
    w->Protocol->setCurrentIndex(GetParam().offered ? pr_XMODEM_SUM_128 : GetParam().protocol);
    peer.comm.Times.PatienceMs = 2000;  // a cancelled peer gives up soon
    ASSERT_TRUE(WriteFile(dir / "source.bin", data));
    if (GetParam().upload) {
      FileDialogAnswer answer(w->OpenDialog1, QString::fromStdString(dir / "source.bin"));
      w->SpeedButton7->click();
      peer.comm.StartDownload(dir / "got.bin");
    } else {
      peer.comm.StartUpload(dir / "source.bin", "source.bin");
      FileDialogAnswer answer(w->SaveDialog1, QString::fromStdString(dir / "got.bin"));
      if (!GetParam().offered) w->KXMODEM128SUM_DOWNLOAD->trigger();
      ASSERT_TRUE(WaitUntil([&] { return w->KELCOMM1->TranMode != 0; })) << "it started";
    }
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
    EXPECT_EQ(got, r.upload || r.offered ? data : PaddedTo(data, 1024));
  }
  EXPECT_EQ(w->KELCOMM1->Protocol.load(), w->Protocol->currentIndex()) << "the list's again";
  ASSERT_FALSE(shown.isEmpty()) << "the dialog was up while the bytes moved";
  EXPECT_TRUE(shown.first().startsWith(r.caption + "|")) << shown.first().toStdString();
  // The CR first ends whatever a cancelled sender's last block left as text.
  peer.comm.WriteString("\rback to the terminal\r\n");
  EXPECT_TRUE(ScreenShows(*w, "back to")) << "the window's receive handler is back";
}

INSTANTIATE_TEST_SUITE_P(
    Window, TransferWindowTest,
    ::testing::Values(Row{"ZmodemUpload", pr_ZMODEM, true, false, "ZMODEM アップロード"},
                      Row{"Xmodem1kDownload", pr_XMODEM_CRC_1024, false, false,
                          "XMODEM [CRC] 1024byte ダウンロード"},
                      Row{"ZmodemOffered", pr_ZMODEM, false, false, "ZMODEM ダウンロード", true},
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
  // ZMODEM auto-start off: rz's header would offer an upload of its own.
  h.WriteSettings("1\r\n38400\r\nATD\r\nATZ\r\n" + host.device() + "\r\n\r\n\r\n\r\n0\r\n\r\n");
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

// Offers name ZMODEM when the list shows another protocol; line 8 "0" is off.
TEST(ZmodemAutoStart, DeclinedOfferAbortsTheHostAndItsRepeatsWaitForText) {
  TestLine line;
  WindowHarness h;
  h.WriteSettings("1\r\n38400\r\nATD\r\nATZ\r\n" + line.DevicePath() + "\r\n\r\n\r\n\r\n0\r\n\r\n");
  TKelTerm& w = h.Open();
  w.PortOC->click();
  QStringList offers;
  QTimer decline;
  QObject::connect(&decline, &QTimer::timeout, [&] {
    for (QFileDialog* d : {w.OpenDialog1, w.SaveDialog1})
      if (d && d->isVisible()) {
        offers << d->windowTitle();
        d->reject();
      }
  });
  decline.start(5);
  const std::string zrqinit = zwire::HexHeader(0, 0) + "\x11";
  line.far().Write("off" + zrqinit);
  ASSERT_TRUE(ScreenShows(w, "off**B00"));
  w.ZmodemAutoStart->trigger();
  line.far().Write(zrqinit);
  ASSERT_TRUE(WaitUntil([&] { return offers.size() == 1; }));
  line.far().Write(zrqinit);  // the same sender's repeat
  w.Protocol->setCurrentIndex(pr_XMODEM_SUM_128);
  line.far().Write("$ " + zwire::HexHeader(1, 0));
  ASSERT_TRUE(WaitUntil([&] { return offers.size() == 2; }));
  EXPECT_EQ(offers, QStringList({"ダウンロードするファイルの指定",
                                 "アップロードするファイルの指定 (ZMODEM)"}));
  const std::string abort = std::string(8, '\x18') + std::string(8, '\b');
  EXPECT_EQ(line.far().ReadFor(32, 5s), abort + abort);
  h.CloseWindow();
  EXPECT_EQ(h.ReadSettings(), SettingsWithCom1(line.DevicePath()));
}

}  // namespace
