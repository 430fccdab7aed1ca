// Transfers started from the window, the file dialog answered as a user
// would, against our own component on the far end of a paced virtual line:
// the progress dialog while the bytes move, the file whole, the terminal's
// receive path back afterwards, and 中止.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "KCommSDg.h"
#include "Stations.h"
#include "WindowTestSupport.h"

namespace {

struct Row {
  const char* name;
  protType protocol;
  bool upload;  // the window sends
  const char* caption;
};

class TransferWindowTest : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    VirtualLine::Options paced;
    paced.speed = 115200;  // a transfer lasts several ticks
    line = VirtualLine::Create(name, paced);
    h.WriteSettings(SettingsWithCom1("virtual:" + name));
    w = &h.Open();
    w->CommStatus = &dialog;
    w->PortOC->click();
    w->Protocol->setCurrentIndex(GetParam().protocol);
    peer = std::make_unique<Station>("virtual:" + name + "/1", GetParam().protocol);
    peer->comm.Times.PatienceMs = 2000;  // a cancelled peer gives up soon
    QObject::connect(w->Timer2, &QTimer::timeout, &dialog, [this] {
      if (dialog.isVisible() && w->KELCOMM1->TranMode != 0)
        shown << dialog.Protocol->text() + "|" + dialog.File_Size->text();
    });
  }
  void TearDown() override {
    peer.reset();
    VirtualLine::Remove(name);
  }
  // The sender goes first: an invitation sent before it runs would be lost.
  void Start(const std::string& data) {
    ASSERT_TRUE(WriteFile(dir / "source.bin", data));
    const QString source = QString::fromStdString(dir / "source.bin");
    const QString target = QString::fromStdString(dir / "got.bin");
    if (GetParam().upload) {
      FileDialogAnswer answer(w->OpenDialog1, source);
      w->SpeedButton7->click();
      peer->comm.StartDownload(dir / "got.bin");
    } else {
      peer->comm.StartUpload(dir / "source.bin", "source.bin");
      FileDialogAnswer answer(w->SaveDialog1, target);
      w->KXMODEM128SUM_DOWNLOAD->trigger();
    }
    ASSERT_NE(w->KELCOMM1->TranMode.load(), 0) << "the transfer started";
  }
  bool BothIdle() {
    return WaitUntil(
        [&] {
          return w->KELCOMM1->TranMode == 0 && peer->comm.TranMode == 0 && !dialog.isVisible();
        },
        30s);
  }

  std::string name = UniqueLineName("window");
  std::shared_ptr<VirtualLine> line;
  TempDir dir;
  TCommStatus dialog;  // outlives the window, whose close still ticks
  QStringList shown;   // protocol and size captions of the ticks of the transfer
  WindowHarness h;
  TKelTerm* w = nullptr;
  std::unique_ptr<Station> peer;
};

TEST_P(TransferWindowTest, DialogFollowsTheFileAndTheScreenHasTheLineBack) {
  const std::string data = RandomBytes(12000, 3);
  Start(data);
  ASSERT_TRUE(BothIdle()) << "the tick after the end hides the dialog";
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 1);
  EXPECT_EQ(ReadFile(dir / "got.bin"),
            GetParam().protocol == pr_ZMODEM ? data : PaddedTo(data, 1024));
  ASSERT_FALSE(shown.isEmpty()) << "the dialog was up while the bytes moved";
  EXPECT_TRUE(shown.first().startsWith(QString(GetParam().caption) + "|"))
      << shown.first().toStdString();
  EXPECT_NE(shown.first().section('|', 1), shown.last().section('|', 1)) << "the count moved";

  peer->comm.WriteString("back to the terminal\r\n");
  EXPECT_TRUE(WaitUntil([&] {
    for (const std::string& row : w->ScreenRows())
      if (row.starts_with("back to the terminal")) return true;
    return false;
  })) << "the window's receive handler is back";
}

// 中止 only asks: the dialog stays up until the worker has stopped, and the
// far end is told.
TEST_P(TransferWindowTest, CancelEndsBothEndsAndThenTheDialog) {
  Start(RandomBytes(100000, 4));
  ASSERT_TRUE(WaitUntil([&] { return w->KELCOMM1->Status.TranSize.load() > 0; }, 10s));
  dialog.CANCEL->click();
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_TRUE(BothIdle());
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 0);
  EXPECT_EQ(peer->comm.TranResult.load(), 0);
  EXPECT_LT(ReadFile(dir / "got.bin").size(), 100000u);
}

INSTANTIATE_TEST_SUITE_P(Window, TransferWindowTest,
                         ::testing::Values(Row{"ZmodemUpload", pr_ZMODEM, true,
                                               "ZMODEM アップロード"},
                                           Row{"Xmodem1kDownload", pr_XMODEM_CRC_1024, false,
                                               "XMODEM [CRC] 1024byte ダウンロード"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
