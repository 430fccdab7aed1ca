// Transfers started from the window, with the file dialogs answered as a
// user would, over a paced virtual line whose far end runs our own engine;
// and the progress dialog that follows them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <random>

#include "KCommSDg.h"
#include "ShiftJis.h"
#include "WindowTestSupport.h"

namespace {

constexpr int kLineSpeed = 115200;           // bit/s: a transfer lasts a few ticks
const QString kSourceName = "表データ.bin";  // 表 ends in the byte 0x5C

std::string Bytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  return bytes;
}

// What an XMODEM receiver keeps: whole blocks, the last one filled with SUB.
std::string Blocked(protType protocol, const std::string& bytes) {
  if (protocol > pr_XMODEM_CRC_1024) return bytes;
  const size_t block = protocol == pr_XMODEM_CRC_1024 ? 1024 : 128;
  std::string padded = bytes;
  padded.resize((bytes.size() + block - 1) / block * block, '\x1A');
  return padded;
}

// What the progress dialog showed after each tick of the window.
struct Sample {
  bool visible;
  QString file, size, speed, time, left, protocol;
};

class TransferWindow : public ::testing::Test {
 protected:
  TransferWindow() : lineName_("xfer-window-" + std::to_string(++counter_)) {
    VirtualLine::Options paced;
    paced.speed = kLineSpeed;
    line_ = VirtualLine::Create(lineName_, paced);
  }
  ~TransferWindow() override {
    if (peer) {
      peer->RequestCancel();
      WaitUntil([&] { return peer->TranMode.load() == 0; }, 10s);
      peer->Close();
    }
    if (w) w->CommStatus = nullptr;
    VirtualLine::Remove(lineName_);
  }

  // The window with its port open on end 0 and the progress dialog beside.
  void OpenWindow() {
    h.WriteSettings(SettingsWithCom1("virtual:" + lineName_));
    w = &h.Open();
    w->CommStatus = &dialog;
    w->PortOC->click();
    ASSERT_TRUE(w->KELCOMM1->IsOpen());
    QObject::connect(w->Timer2, &QTimer::timeout, &dialog, [this] {
      samples.push_back({dialog.isVisible(), dialog.File_Name->text(), dialog.File_Size->text(),
                         dialog.TranSpeed->text(), dialog.TranTime->text(),
                         dialog.TranTimeLeft->text(), dialog.Protocol->text()});
    });
  }
  // Our engine on end 1, as the peer.
  void OpenPeer(protType protocol) {
    peer = std::make_unique<TKELCOMM>();
    peer->SetDevicePath("virtual:" + lineName_ + "/1");
    peer->Protocol = protocol;
    // Like a terminal between transfers, it reads what arrives while idle.
    peer->OnCommReceive = [](TComm* sender, uint16_t size) {
      std::string scrap(size, '\0');
      sender->Read(scrap.data(), size);
    };
    peer->Open();
  }
  // The line's ends themselves; end 1 is the peer's when one is open.
  VirtualLine::End& near() { return line_->end(0); }
  VirtualLine::End& far() { return line_->end(1); }
  void ChooseProtocol(protType protocol) { w->Protocol->setCurrentIndex(protocol); }
  QString Path(const QString& name) const { return folder.filePath(name); }
  std::string LocalPath(const QString& name) const {
    return QFile::encodeName(Path(name)).toStdString();
  }

  void UploadThroughButton(const QString& path) {
    FileDialogAnswer answer(w->OpenDialog1, path);
    w->SpeedButton7->click();
    EXPECT_EQ(answer.title, "アップロードするファイルの指定");
  }
  void DownloadThroughMenu(const QString& path) {
    FileDialogAnswer answer(w->SaveDialog1, path);
    w->KXMODEM128SUM_DOWNLOAD->trigger();
    EXPECT_EQ(answer.title, "ダウンロードするファイルの指定");
  }
  bool WaitWindowIdle(std::chrono::milliseconds timeout = 30s) {
    const bool idle = WaitUntil([&] { return w->KELCOMM1->TranMode.load() == 0; }, timeout);
    if (!idle)
      ADD_FAILURE() << "window " << w->KELCOMM1->Status.TranSize.load() << " peer "
                    << (peer ? peer->Status.TranSize.load() : -1);
    return idle;
  }
  // Waits for the window's next tick; answers the sample it took.
  Sample NextTick() {
    const size_t before = samples.size();
    EXPECT_TRUE(WaitUntil([&] { return samples.size() > before; }, 2s));
    return samples.back();
  }

  // Declared so that the window goes before the dialog and the samples: its
  // close still runs ticks.
  QTemporaryDir folder;
  TCommStatus dialog;
  std::vector<Sample> samples;
  WindowHarness h;
  TKelTerm* w = nullptr;
  std::unique_ptr<TKELCOMM> peer;

 private:
  static inline std::atomic<int> counter_{0};
  std::string lineName_;
  std::shared_ptr<VirtualLine> line_;
};

// The dialog was up while the bytes moved, and its counters went forward.
void ExpectProgressShown(const std::vector<Sample>& samples, const QString& protocolText) {
  std::vector<int> done;
  bool measured = false;
  for (const Sample& s : samples) {
    if (!s.visible || s.protocol != protocolText) continue;
    const int n = s.size.section(" / ", 0, 0).toInt();
    if (done.empty() || done.back() != n) done.push_back(n);
    measured = measured || s.speed != "計測不可能";
  }
  ASSERT_GE(done.size(), 2u) << "the byte count never moved";
  for (size_t i = 1; i < done.size(); ++i) EXPECT_GT(done[i], done[i - 1]);
  EXPECT_TRUE(measured) << "the speed was never measured";
}

struct Direction {
  protType protocol;
  bool upload;
};

std::string DirectionName(const ::testing::TestParamInfo<Direction>& info) {
  const char* names[] = {"XSum", "XCrc", "X1k", "Ymodem", "YmodemG", "Zmodem", "MLink"};
  return std::string(names[info.param.protocol]) + (info.param.upload ? "Upload" : "Download");
}

class WindowTransfer : public TransferWindow, public ::testing::WithParamInterface<Direction> {};

TEST_P(WindowTransfer, MovesTheFileWhileTheDialogShowsProgress) {
  const auto [protocol, upload] = GetParam();
  const std::string data = Bytes(15000, 40 + protocol);
  WriteFileBytes(Path(kSourceName), data);
  OpenWindow();
  OpenPeer(protocol);
  ChooseProtocol(protocol);
  const QString target = Path("got.bin");
  // The sender goes first: a receiver's first invite that arrives before
  // the transfer starts is terminal text, and the next one comes 10 s later.
  if (upload) {
    UploadThroughButton(Path(kSourceName));
    peer->StartDownload(QFile::encodeName(target).toStdString());
  } else {
    peer->StartUpload(LocalPath(kSourceName));
    DownloadThroughMenu(target);
  }
  ASSERT_NE(w->KELCOMM1->TranMode.load(), 0) << "the transfer started";
  EXPECT_TRUE(dialog.isVisible()) << "shown with the start";
  ASSERT_TRUE(WaitWindowIdle());
  ASSERT_TRUE(WaitUntil([&] { return peer->TranMode.load() == 0; }, 10s));
  EXPECT_FALSE(NextTick().visible) << "the first tick after the end hides the dialog";

  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 1);
  EXPECT_EQ(peer->TranResult.load(), 1);
  EXPECT_TRUE(ReadFileBytes(target) == Blocked(protocol, data)) << "the received file";
  const QString protocolText =
      QString::fromUtf8(ProtocolNames[protocol]) + (upload ? " アップロード" : " ダウンロード");
  ExpectProgressShown(samples, protocolText);
  const Sample& last = samples.back();
  EXPECT_EQ(last.protocol, protocolText);
  const QString folderPart = folder.path() + "/";
  if (upload) {
    EXPECT_EQ(last.file, kSourceName + "," + kSourceName + " (" + folderPart + ")");
  } else {
    const std::string announced = w->KELCOMM1->Status.RecvName.get();
    if (protocol > pr_XMODEM_CRC_1024) {
      EXPECT_EQ(DecodeShiftJisRow(announced), kSourceName);
    }
    EXPECT_EQ(last.file, "got.bin," + DecodeShiftJisRow(announced) + " (" + folderPart + ")");
  }
  EXPECT_TRUE(h.errorBoxes.isEmpty()) << h.errorBoxes.join("|").toStdString();
}

std::vector<Direction> AllDirections() {
  std::vector<Direction> rows;
  for (int p = 0; p < kProtocolCount; ++p)
    for (bool upload : {true, false}) rows.push_back({static_cast<protType>(p), upload});
  return rows;
}

INSTANTIATE_TEST_SUITE_P(AllProtocols, WindowTransfer, ::testing::ValuesIn(AllDirections()),
                         DirectionName);

class CancelPresses : public TransferWindow, public ::testing::WithParamInterface<int> {};

// 中止 only asks: the dialog stays up until the worker has stopped. A second
// press changes nothing, and the next transfer starts clean.
TEST_P(CancelPresses, EndTheTransferAndTheNextOneRuns) {
  const std::string data = Bytes(60000, 7);
  WriteFileBytes(Path("long.bin"), data);
  OpenWindow();
  OpenPeer(pr_XMODEM_CRC_128);
  ChooseProtocol(pr_XMODEM_CRC_128);
  UploadThroughButton(Path("long.bin"));
  peer->StartDownload(LocalPath("got.bin"));
  ASSERT_TRUE(WaitUntil([&] { return w->KELCOMM1->Status.TranSize.load() > 0; }));
  for (int press = 0; press < GetParam(); ++press) dialog.CANCEL->click();
  EXPECT_EQ(w->KELCOMM1->CancelFlag.load(), 1);
  EXPECT_TRUE(dialog.isVisible()) << "cancel does not hide the dialog";
  ASSERT_TRUE(WaitWindowIdle(5s));
  ASSERT_TRUE(WaitUntil([&] { return peer->TranMode.load() == 0; }, 5s));
  EXPECT_FALSE(NextTick().visible);
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 0);
  EXPECT_EQ(peer->TranResult.load(), 0) << "the receiver was told";
  EXPECT_LT(ReadFileBytes(Path("got.bin")).size(), data.size());

  // The receiver's own cancel bytes are still on the line; the next sender
  // would take them for its answer.
  ASSERT_TRUE(WaitUntil(
      [&] { return far().Pending() == 0 && near().Pending() == 0 && near().Available() == 0; }));
  WriteFileBytes(Path("short.bin"), "after the cancel");
  UploadThroughButton(Path("short.bin"));
  peer->StartDownload(LocalPath("again.bin"));
  ASSERT_TRUE(WaitWindowIdle(10s));
  ASSERT_TRUE(WaitUntil([&] { return peer->TranMode.load() == 0; }, 10s));
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 1);
  EXPECT_EQ(ReadFileBytes(Path("again.bin")), Blocked(pr_XMODEM_CRC_128, "after the cancel"));
}

INSTANTIATE_TEST_SUITE_P(OnceOrTwice, CancelPresses, ::testing::Values(1, 2),
                         [](const auto& info) { return std::to_string(info.param) + "Press"; });

TEST_F(TransferWindow, ChangingTheProtocolMidwayChangesOnlyTheCaption) {
  const std::string data = Bytes(20000, 11);
  WriteFileBytes(Path("a.bin"), data);
  OpenWindow();
  OpenPeer(pr_XMODEM_CRC_128);
  ChooseProtocol(pr_XMODEM_CRC_128);
  UploadThroughButton(Path("a.bin"));
  peer->StartDownload(LocalPath("got.bin"));
  // Blocks are moving: the worker has long chosen its protocol.
  ASSERT_TRUE(WaitUntil([&] {
    return dialog.Protocol->text() == "XMODEM [CRC] 128byte アップロード" &&
           w->KELCOMM1->Status.TranSize.load() > 0;
  }));
  const QString description = dialog.File_Name->text();
  ChooseProtocol(pr_YMODEM);
  EXPECT_EQ(w->KELCOMM1->Protocol.load(), pr_YMODEM);
  ASSERT_TRUE(WaitUntil([&] { return dialog.Protocol->text() == "YMODEM アップロード"; }));
  EXPECT_EQ(w->KELCOMM1->TranMode.load(), 1) << "still the same transfer";
  EXPECT_EQ(dialog.File_Name->text(), description);
  ASSERT_TRUE(WaitWindowIdle());
  ASSERT_TRUE(WaitUntil([&] { return peer->TranMode.load() == 0; }, 10s));
  EXPECT_EQ(w->KELCOMM1->TranResult.load(), 1);
  EXPECT_EQ(peer->TranResult.load(), 1);
  const std::string got = ReadFileBytes(Path("got.bin"));
  EXPECT_TRUE(got == Blocked(pr_XMODEM_CRC_128, data))
      << "the running XMODEM transfer went on as XMODEM; received " << got.size() << " bytes";
}

// A refused start shows the dialog and the next tick hides it, without a
// word and without a byte on the line.
TEST_F(TransferWindow, RefusedUploadsShowTheDialogForOneTick) {
  WriteFileBytes(Path("empty.bin"), "");
  OpenWindow();
  ChooseProtocol(pr_YMODEM);
  for (const QString& name : {QString("missing.bin"), QString("empty.bin")}) {
    UploadThroughButton(Path(name));
    EXPECT_EQ(w->KELCOMM1->TranMode.load(), 0) << name.toStdString();
    EXPECT_TRUE(dialog.isVisible()) << name.toStdString();
    EXPECT_FALSE(NextTick().visible) << name.toStdString();
  }
  EXPECT_EQ(far().ReadFor(1, 100ms), "");
  EXPECT_TRUE(h.errorBoxes.isEmpty());
}

TEST_F(TransferWindow, StartsWhileATransferRunsAreRefused) {
  WriteFileBytes(Path("a.bin"), "data");
  OpenWindow();
  ChooseProtocol(pr_XMODEM_CRC_128);
  far().SetRts(true);  // the window's clear-to-send: a silent peer is there
  DownloadThroughMenu(Path("first.bin"));
  ASSERT_EQ(w->KELCOMM1->TranMode.load(), 2);
  EXPECT_EQ(far().ReadFor(1, 5s), "C") << "the receiver invites; nobody sends";
  UploadThroughButton(Path("a.bin"));
  FileDialogAnswer answer(w->SaveDialog1, Path("second.bin"));
  w->SpeedButton10->click();
  EXPECT_FALSE(answer.title.isEmpty());
  EXPECT_EQ(w->KELCOMM1->TranMode.load(), 2);
  EXPECT_EQ(w->KELCOMM1->Status.FilePath.get(), LocalPath("first.bin"));
  const Sample next = NextTick();
  EXPECT_TRUE(next.visible);
  EXPECT_EQ(next.protocol, "XMODEM [CRC] 128byte ダウンロード");
  EXPECT_EQ(next.file, "first.bin, (" + folder.path() + "/)");
  dialog.CANCEL->click();
  ASSERT_TRUE(WaitWindowIdle(5s));
  EXPECT_FALSE(NextTick().visible);
  EXPECT_FALSE(QFile::exists(Path("second.bin")));
}

TEST_F(TransferWindow, CancelledFileDialogsStartNothing) {
  OpenWindow();
  struct Entry {
    const char* name;
    std::function<void()> click;
    QFileDialog* const& dialog;
    const char* title;
  };
  const Entry entries[] = {
      {"upload item", [&] { w->XMODEM128SUM_UPLOAD->trigger(); }, w->OpenDialog1,
       "アップロードするファイルの指定"},
      {"upload button", [&] { w->SpeedButton7->click(); }, w->OpenDialog1,
       "アップロードするファイルの指定"},
      {"download item", [&] { w->KXMODEM128SUM_DOWNLOAD->trigger(); }, w->SaveDialog1,
       "ダウンロードするファイルの指定"},
      {"download button", [&] { w->SpeedButton10->click(); }, w->SaveDialog1,
       "ダウンロードするファイルの指定"},
  };
  for (const Entry& e : entries) {
    FileDialogAnswer answer(e.dialog, QString());
    e.click();
    EXPECT_EQ(answer.title, e.title) << e.name;
    EXPECT_EQ(e.dialog->fileMode(), QFileDialog::AnyFile) << e.name << ": names may be typed";
    EXPECT_EQ(w->KELCOMM1->TranMode.load(), 0) << e.name;
    EXPECT_FALSE(dialog.isVisible()) << e.name;
  }
  EXPECT_EQ(far().ReadFor(1, 100ms), "");
}

}  // namespace
