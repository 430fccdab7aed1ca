// The session log: the file's header and line ends, appending across
// sessions, and what happens when it cannot be opened or written; then the
// window's log as port sessions open and close and the host's lines arrive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QToolButton>
#include <mutex>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "LogName.h"
#include "ProgramFolder.h"
#include "SessionLog.h"
#include "WindowTestSupport.h"

namespace {

const std::string kRule = "------------------\r\n";

std::string Header(const std::string& date) { return kRule + date + "\r\n" + kRule; }

class SessionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sessionlog-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    log.OnError = [this](const std::string& message) { errors.push_back(message); };
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  std::string dir_;
  TSessionLog log;
  std::vector<std::string> errors;
};

TEST_F(SessionLogTest, WritesHeaderAndLinesWithCrLfAsTheyStand) {
  const std::string path = PathOf("970615.LOG");
  log.Open(path, "1997/06/15 21:07:00");
  EXPECT_TRUE(log.IsOpen());
  EXPECT_EQ(Read(path), Header("1997/06/15 21:07:00")) << "the header is on disk at once";
  log.WriteLine("abc");
  log.WriteLine("\x83\x8D\x83\x4F \xB1\xB2");  // Shift-JIS and half-width kana
  log.WriteLine("");
  EXPECT_EQ(Read(path), Header("1997/06/15 21:07:00")) << "lines wait for the flush";
  log.Flush();
  EXPECT_EQ(Read(path), Header("1997/06/15 21:07:00") + "abc\r\n\x83\x8D\x83\x4F \xB1\xB2\r\n\r\n")
      << "a flush hands every line to the file";
  log.Close();
  EXPECT_EQ(Read(path), Header("1997/06/15 21:07:00") + "abc\r\n\x83\x8D\x83\x4F \xB1\xB2\r\n\r\n")
      << "closing adds nothing of its own";
  EXPECT_TRUE(errors.empty());
}

TEST_F(SessionLogTest, OpenFailuresThrowWithThePathAndLeaveNothingOpen) {
  const std::string kept = PathOf("kept.LOG");
  struct Case {
    const char* what;
    std::string path;
  };
  const Case cases[] = {{"missing folder", PathOf("nodir/126.LOG")},
                        {"a folder, not a file", dir_}};
  for (const auto& c : cases) {
    log.Open(kept, "kept");
    const std::string before = Read(kept);
    try {
      log.Open(c.path, "date");
      ADD_FAILURE() << c.what << ": opened";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(c.path + ": "), std::string::npos) << c.what << ": " << message;
      EXPECT_GT(message.size(), c.path.size() + 2) << c.what << ": the reason is given";
    }
    EXPECT_FALSE(log.IsOpen()) << c.what;
    log.WriteLine("must go nowhere");
    log.Close();
    EXPECT_EQ(Read(kept), before) << c.what << ": the earlier log is not written to";
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("nodir")));
  EXPECT_TRUE(errors.empty());
}

TEST_F(SessionLogTest, WriteAndCloseOnALogNotOpenDoNothing) {
  TSessionLog never;
  int reported = 0;
  never.OnError = [&](const std::string&) { ++reported; };
  never.WriteLine("nothing");
  never.Close();
  never.Close();
  EXPECT_FALSE(never.IsOpen());
  EXPECT_EQ(reported, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

// ---- The window's log, opened and closed with the port session and fed by
// the receive path. ----

const QString kOpened = "通信ポートをオープンしました.";
const QString kClosed = "ポートをクローズしました.";

QString DefaultNameNow() { return FromShiftJis(ExpandLogTemplate("%Y%M%D.LOG", LocalTimeNow())); }

// What the receive path does with each notification: the bytes go into
// TextBuffer under its lock, and every finished line to the log.
void FeedLikeTheReceivePath(TKelTerm& w, const std::string& bytes) {
  std::lock_guard lock(w.TextBuffer.Mutex());
  w.TextBuffer.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                       [&w](std::string_view line) { w.LogWriteLine(line); });
}

// TextBuffer's lines, each followed by LF (a byte no line holds).
std::string TextOf(TKelTerm& w) {
  std::lock_guard lock(w.TextBuffer.Mutex());
  std::string text;
  for (size_t i = 0; i < w.TextBuffer.Count(); ++i) text.append(w.TextBuffer.Line(i)).append("\n");
  return text;
}

// The log's header, with its date line checked, cut off.
std::string BodyAfterHeader(const std::string& log) {
  const size_t dateEnd = log.find("\r\n", kRule.size());
  if (log.rfind(kRule, 0) != 0 || dateEnd == std::string::npos ||
      log.compare(dateEnd + 2, kRule.size(), kRule) != 0) {
    ADD_FAILURE() << "no header: " << log;
    return log;
  }
  const QString date = FromShiftJis(log.substr(kRule.size(), dateEnd - kRule.size()));
  const QLocale locale = QLocale::system();
  const QDate today = QDate::currentDate();
  const QString todayText = locale.toString(today, QLocale::ShortFormat) + " ";
  const QString yesterdayText = locale.toString(today.addDays(-1), QLocale::ShortFormat) + " ";
  EXPECT_TRUE(date.startsWith(todayText) || date.startsWith(yesterdayText)) << date.toStdString();
  EXPECT_GT(date.size(), todayText.size()) << "the time follows the date";
  return log.substr(dateEnd + 2 + kRule.size());
}

QStringList LogFiles() {
  return QDir(ProgramFolder()).entryList({"*.LOG", "*.log"}, QDir::Files | QDir::System);
}

// A window on a virtual line; what the far end sends takes the window's own
// receive path on the serial watcher.
class LoggedWindow {
 public:
  LoggedWindow() {
    h.WriteSettings(SettingsWithCom1(line.DevicePath()));
    w = &h.Open();
  }
  // Empties TextBuffer to the state the expectations start from.
  void StartFresh() {
    w->ClearBuffer(false);
    expected_ = TextOf(*w);
  }
  // The far end sends bytes; answers once the window holds them all.
  bool FarSends(const std::string& bytes) {
    for (const char c : bytes) Expect(c);
    line.far().Write(bytes);
    return WaitUntil([&] { return TextOf(*w) == expected_; });
  }
  std::string Text() { return TextOf(*w); }

  TestLine line;  // outlives the window, which closes its end
  WindowHarness h;
  TKelTerm* w = nullptr;

 private:
  // The receive rule for the texts these tests send (no BS among them), on
  // the LF-joined text whose last line is current.
  void Expect(char c) {
    if (c == '\r')
      expected_ += '\n';
    else if (static_cast<unsigned char>(c) >= 32)
      expected_.insert(expected_.size() - 1, 1, c);
  }
  std::string expected_;
};

TEST(SessionLogWindowTest, SessionRecordsItsLinesAndTheUnfinishedLastLine) {
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    bool clearBeforeClose;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"line and unfinished line", {"abc\r\nde"}, false, "abc\r\nde\r\n"},
      {"closed right after a CR", {"abc\r\n", "de\r"}, false, "abc\r\nde\r\n\r\n"},
      {"cleared while a line is unfinished", {"abc\r\nde"}, true, "abc\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LoggedWindow s;
    s.StartFresh();
    const QString name = s.w->LogFileName->text();
    s.w->PortOC->click();
    ASSERT_EQ(s.w->StatusText(), kOpened);
    for (const auto& chunk : c.chunks) ASSERT_TRUE(s.FarSends(chunk)) << s.Text();
    if (c.clearBeforeClose) s.w->KC1Click();
    s.w->PortOC->click();
    ASSERT_FALSE(s.w->KELCOMM1->IsOpen());
    EXPECT_EQ(BodyAfterHeader(ReadFileBytes(ProgramFilePath(name))), c.body);
    EXPECT_TRUE(s.h.errorBoxes.isEmpty());
  }
}

TEST(SessionLogWindowTest, ShiftJisNameIsAFileNameInTheLocalEncoding) {
  LoggedWindow s;
  s.w->SetLogFileName("\x83\x8D\x83\x4F%%.LOG");  // "ログ" and a dropped code
  EXPECT_EQ(s.w->LogFileName->text(), "ログ.LOG");
  s.w->PortOC->click();
  s.w->PortOC->click();
  EXPECT_EQ(LogFiles(), QStringList{"ログ.LOG"});
}

TEST(SessionLogWindowTest, TwoSessionsOnOneNameAppendToOneFile) {
  LoggedWindow s;
  TKelTerm& w = *s.w;
  s.StartFresh();
  for (const char* text : {"first\r", "second\r"}) {
    w.SetLogFileName("TWICE.LOG");
    w.PortOC->click();
    ASSERT_TRUE(s.FarSends(text)) << s.Text();
    w.PortOC->click();
  }
  const std::string log = ReadFileBytes(ProgramFilePath("TWICE.LOG"));
  const std::string firstBody = "first\r\n\r\n";
  const std::string rest = BodyAfterHeader(log);
  ASSERT_EQ(rest.rfind(firstBody, 0), 0u) << log;
  EXPECT_EQ(BodyAfterHeader(rest.substr(firstBody.size())), "second\r\n\r\n") << log;
}

TEST(SessionLogWindowTest, UnopenableLogKeepsTheSessionWithoutLog) {
  LoggedWindow s;
  TKelTerm& w = *s.w;
  w.SetLogFileName("nodir/%Y.LOG");
  s.StartFresh();
  w.PortOC->click();
  ASSERT_EQ(s.h.errorBoxes.size(), 1);
  EXPECT_TRUE(s.h.errorBoxes.first().contains("nodir/")) << s.h.errorBoxes.first().toStdString();
  EXPECT_FALSE(s.h.statusTexts.contains(kOpened));
  EXPECT_TRUE(w.KELCOMM1->IsOpen()) << "the port stays open";
  EXPECT_TRUE(w.PortOC->isChecked());
  ASSERT_TRUE(s.FarSends("abc\r\nde")) << "lines with no log to go to";
  w.PortOC->click();
  EXPECT_FALSE(w.KELCOMM1->IsOpen());
  EXPECT_EQ(w.StatusText(), kClosed);
  EXPECT_EQ(w.LogFileName->text(), DefaultNameNow());
  EXPECT_FALSE(QDir(ProgramFolder()).exists("nodir"));
  EXPECT_TRUE(LogFiles().isEmpty()) << LogFiles().join(",").toStdString();
  EXPECT_EQ(s.h.errorBoxes.size(), 1) << "closing touches no log";
}

TEST(SessionLogWindowTest, WriteFailureIsShownOnceAndTheSessionGoesOn) {
  LoggedWindow s;
  TKelTerm& w = *s.w;
  ASSERT_TRUE(QFile::link("/dev/full", ProgramFilePath("FULL.LOG")));
  w.SetLogFileName("FULL.LOG");
  s.StartFresh();
  w.PortOC->click();
  EXPECT_EQ(w.StatusText(), kOpened) << "the file opened; its writes fail";
  ASSERT_TRUE(s.FarSends("one\r\ntwo\r\nthree")) << s.Text();
  ASSERT_TRUE(WaitUntil([&] { return !s.h.errorBoxes.isEmpty(); }));
  EXPECT_TRUE(s.h.errorBoxes.first().contains("FULL.LOG")) << s.h.errorBoxes.first().toStdString();
  EXPECT_TRUE(w.KELCOMM1->IsOpen());
  w.PortOC->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(s.h.errorBoxes.size(), 1);
}

TEST(SessionLogWindowTest, LinesFinishedBeforeTheLogOpensFollowItsHeader) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  w.SetLogFileName("EARLY.LOG");
  w.ClearBuffer(false);
  FeedLikeTheReceivePath(w, "before the session\rpart");
  const size_t first = w.LogFirstLine();
  // Between the port's open and the log's the receive path finds no log.
  FeedLikeTheReceivePath(w, "ial\r\nearly\r\nla");
  w.LogOpen(first);
  FeedLikeTheReceivePath(w, "te\r\nopen");
  w.LogClose();
  w.LogClose();  // a second close finds no log
  FeedLikeTheReceivePath(w, "\rafter the close\r");
  EXPECT_EQ(BodyAfterHeader(ReadFileBytes(ProgramFilePath("EARLY.LOG"))),
            "partial\r\nearly\r\nlate\r\nopen\r\n");
}

}  // namespace
