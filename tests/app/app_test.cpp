// The application end to end: the headless window driven like a user, the
// page and pictures served by the local test server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/downloads.h"
#include "app/program.h"
#include "app/state.h"
#include "app/texts.h"
#include "platform/headless/headless_window.h"
#include "tests/app/server_test.h"
#include "tests/common/test_folder.h"
#include "tests/http/test_server.h"
#include "text/charset.h"

namespace pelmora::app {
namespace {

using namespace std::chrono_literals;
using pelmora::testing::Answer;
using pelmora::testing::Names;
using pelmora::testing::ReadAll;
using pelmora::testing::ServerTest;
using pelmora::testing::TestFolder;
using pelmora::testing::TestServer;
using pelmora::testing::WriteAll;
using platform::Control;

using Row = std::array<std::string, 3>;  // number, link, state (GBK)

const std::filesystem::path kCorpus = PELMORA_CORPUS_DIR;

// The block as a page carries it: every "/" and ":" percent-encoded.
std::string Encoded(const std::string& link) {
  std::string out;
  for (char c : link) {
    if (c == '/') {
      out += "%2F";
    } else if (c == ':') {
      out += "%3A";
    } else {
      out += c;
    }
  }
  return out;
}

std::string PageWithBlock(const std::string& block) {
  return "<html><script>var x = \"clear_picSrc=" + block +
         "&thumb_picSrc=%2F%2Fthumb\";</script></html>";
}

bool IsJpeg(const std::string& bytes) {
  return bytes.size() > 3 && bytes.compare(0, 3, "\xff\xd8\xff") == 0;
}

class AppTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    m_pictures = m_folder.path() / "pictures" / "nested";
    m_cookieFile = m_folder.path() / "CK.TXT";
  }

  void TearDown() override {
    if (m_window) {
      m_window->Close();
      m_window->Run();
      ExitCleanup();
      m_window.reset();
    }
  }

  void StartWindow() {
    InitGlobals({
        .downloadFolder = m_pictures,
        .cookieFile = m_cookieFile,
        .onPictureDone =
            [this](const PictureReport& report) {
              std::lock_guard lock(m_reportsLock);
              m_reports.push_back(report);
            },
    });
    m_window = platform::CreateHeadlessWindow(MainWindowHandlers());
  }

  // Serves the page at /post and points the address box at it.
  void ServePage(const std::string& block) {
    s_server->Route("/post", Answer{.body = PageWithBlock(block)});
    m_window->SetControlText(Control::kAddressBox, s_server->HttpUrl("/post"));
  }

  std::string Link(const std::string& path) const {
    return "//127.0.0.1:" + std::to_string(s_server->httpPort()) + path;
  }

  std::vector<Row> Rows() {
    std::vector<Row> rows;
    const int count = m_window->RowCount();
    rows.reserve(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) {
      rows.push_back({m_window->GetCellText(row, kNumberColumn),
                      m_window->GetCellText(row, kLinkColumn),
                      m_window->GetCellText(row, kStateColumn)});
    }
    return rows;
  }

  void WaitForStates(const std::string& state, int count) {
    for (int i = 0; i < 500; ++i) {
      int seen = 0;
      for (const Row& row : Rows()) {
        seen += row[2] == state ? 1 : 0;
      }
      if (seen >= count) {
        return;
      }
      std::this_thread::sleep_for(5ms);
    }
    FAIL() << "rows never reached their state";
  }

  int RequestsFor(const std::string& path) {
    int count = 0;
    for (const auto& request : s_server->Requests()) {
      count += request.raw.rfind("GET " + path + " ", 0) == 0 ? 1 : 0;
    }
    return count;
  }

  std::string Tag() const { return std::to_string(g_runTag.load()); }

  TestFolder m_folder;
  std::filesystem::path m_pictures;
  std::filesystem::path m_cookieFile;
  std::unique_ptr<platform::HeadlessWindow> m_window;
  std::mutex m_reportsLock;
  std::vector<PictureReport> m_reports;  // guarded by m_reportsLock
};

TEST_F(AppTest, TheCookieFileFillsTheBoxAndIsSavedPrivately) {
  WriteAll(m_cookieFile, std::string("a=1\r\nb=\xd6\xd0\0after", 15));
  StartWindow();
  EXPECT_EQ(m_window->GetControlText(Control::kCookieBox), "a=1\r\nb=\xd6\xd0")
      << "loaded up to the zero byte, line breaks kept";
  EXPECT_EQ(m_window->GetControlText(Control::kFolderBox), text::TextFromPath(m_pictures).str());

  const std::string cookie = "k=\xd6\xd0\xce\xc4\r\nline";
  m_window->SetControlText(Control::kCookieBox, cookie);
  m_window->Click(Control::kSaveCookieButton);
  EXPECT_EQ(ReadAll(m_cookieFile), cookie);
  struct stat info {};
  ASSERT_EQ(::stat(m_cookieFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_TRUE(m_window->ErrorBoxes().empty());
}

TEST_F(AppTest, AMissingCookieFileLeavesTheBoxEmptyAndAFailedSaveIsShown) {
  WriteAll(m_folder.path() / "blocker", "a file, not a folder");
  m_cookieFile = m_folder.path() / "blocker" / "CK.TXT";
  StartWindow();
  EXPECT_EQ(m_window->GetControlText(Control::kCookieBox), "");
  m_window->SetControlText(Control::kCookieBox, "k=v");
  m_window->Click(Control::kSaveCookieButton);
  const auto boxes = m_window->ErrorBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, kErrorTitle);
  EXPECT_EQ(boxes[0].text.rfind(kSaveCookieFailed, 0), 0u) << boxes[0].text;
  EXPECT_GT(boxes[0].text.size(), std::string(kSaveCookieFailed).size()) << "with the reason";
}

TEST_F(AppTest, ThePageRequestIsAPostWithTheCookieAsTyped) {
  StartWindow();
  ServePage(Encoded(Link("/a.jpg")));
  m_window->SetControlText(Control::kCookieBox, "sid=42; u=7");
  m_window->Click(Control::kLoadButton);
  const auto requests = s_server->TakeRequests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& raw = requests[0].raw;
  EXPECT_EQ(raw.rfind("POST /post HTTP/1.1\r\n", 0), 0u) << raw;
  EXPECT_NE(raw.find("\r\nCookie: sid=42; u=7\r\n"), std::string::npos) << raw;
  EXPECT_TRUE(m_window->IsControlEnabled(Control::kLoadButton)) << "enabled again after the scan";
  EXPECT_GE(g_runTag.load(), 0);
  EXPECT_LE(g_runTag.load(), 1000);
}

TEST_F(AppTest, RowsListTheFirstBlockLastPieceOnTop) {
  StartWindow();
  const char* waiting = kStateWaiting;
  struct Case {
    const char* label;
    std::string page;
    std::vector<Row> rows;
    std::string scratch;  // the scratch box afterwards
  };
  const std::vector<Case> cases = {
      {"A, B, C",
       PageWithBlock("%2F%2Fh%2FA,%2F%2Fh%2FB,%2F%2Fh%2FC"),
       {{"3", "http://h/C", waiting}, {"2", "http://h/B", waiting}, {"1", "http://h/A", waiting}},
       "//h/A\\//h/B\\//h/C"},
      {"an encoded comma stays, an encoded backslash splits",
       PageWithBlock("A,B%2CC,D%5CE"),
       {{"4", "http:E", waiting},
        {"3", "http:D", waiting},
        {"2", "http:B,C", waiting},
        {"1", "http:A", waiting}},
       "A\\B,C\\D\\E"},
      {"only the first of two blocks",
       PageWithBlock("first") + PageWithBlock("second,third"),
       {{"1", "http:first", waiting}},
       "first"},
      {"Chinese escapes are listed in GBK, a 0x5C trail byte is no split",
       PageWithBlock("%2F%2Fh%2F%E5%9B%BE%E7%89%87.jpg,%2F%2Fh%2F%E4%B9%97.jpg"),
       {{"2", "http://h/\x81\x5c.jpg", waiting}, {"1", "http://h/\xcd\xbc\xc6\xac.jpg", waiting}},
       "//h/\xcd\xbc\xc6\xac.jpg\\//h/\x81\x5c.jpg"},
      {"empty pieces give bare links, a trailing comma none",
       PageWithBlock(",x,,"),
       {{"3", "http:", waiting}, {"2", "http:x", waiting}, {"1", "http:", waiting}},
       "\\x\\\\"},
      {"the end marker needs its percent sign",
       "clear_picSrc=a&thumb_picSrc=x,b&thumb_picSrc=%",
       {{"2", "http:b", waiting}, {"1", "http:a&thumb_picSrc=x", waiting}},
       "a&thumb_picSrc=x\\b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    s_server->Route("/post", Answer{.body = c.page});
    m_window->SetControlText(Control::kAddressBox, s_server->HttpUrl("/post"));
    m_window->Click(Control::kLoadButton);
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(m_window->GetControlText(Control::kScratchBox), c.scratch);
    EXPECT_EQ(m_window->GetControlText(Control::kPageBox),
              text::Utf8ToAnsi(text::Text(c.page)).str());
    EXPECT_EQ(g_downloadSeq.load(), 0);
  }
  EXPECT_TRUE(m_window->ErrorBoxes().empty());
}

TEST_F(AppTest, APageWithoutABlockShowsTheArrayErrorAndTheProgramGoesOn) {
  StartWindow();
  ServePage("%2F%2Fh%2Fold.jpg");
  m_window->Click(Control::kLoadButton);
  ASSERT_EQ(Rows().size(), 1u);

  const std::string page = "<html>CLEAR_picSrc=x&thumb_picSrc=% \xe4\xb8\xad</html>";
  s_server->Route("/post", Answer{.body = page});
  m_window->Click(Control::kLoadButton);
  const auto boxes = m_window->ErrorBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "\xb4\xed\xce\xf3");  // 错误
  EXPECT_EQ(boxes[0].text,
            "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n\r\n"  // 运行时出错!
            "\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba"
            "1\r\n\r\n"                                                         // 错误代码：1
            "\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba"                          // 错误信息：
            "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea"  // 数组成员引用下标
            "\xb3\xac\xb3\xf6\xb6\xa8\xd2\xe5\xb7\xb6\xce\xa7\r\n");  // 超出定义范围
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(m_window->GetControlText(Control::kPageBox),
            "<html>CLEAR_picSrc=x&thumb_picSrc=% \xd6\xd0</html>");
  EXPECT_EQ(m_window->GetControlText(Control::kScratchBox), "//h/old.jpg")
      << "the scratch box keeps its previous text";

  ServePage("%2F%2Fh%2Fnew.jpg");
  m_window->Click(Control::kLoadButton);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "http://h/new.jpg", kStateWaiting}}));
  EXPECT_TRUE(m_window->IsControlEnabled(Control::kLoadButton));
}

TEST_F(AppTest, DownloadsSaveEachPictureUnderItsClaimAndMarkFailures) {
  const std::string jpeg = ReadAll(kCorpus / "libjpeg-turbo" / "testorig.jpg");
  const std::string png = ReadAll(kCorpus / "pngsuite" / "basn2c08.png");
  if (jpeg.empty() || png.empty()) {
    GTEST_SKIP() << "picture corpus not found";
  }
  StartWindow();
  s_server->Route("/a.jpg", Answer{.body = jpeg});
  s_server->Route("/b.png", Answer{.body = png});
  s_server->Route("/gone.jpg", Answer{.status = 404, .body = jpeg});
  s_server->Route("/page.jpg", Answer{.body = "<html>not a picture</html>"});
  s_server->Route("/cut.jpg",
                  Answer{.body = jpeg.substr(0, jpeg.size() / 2), .declaredLength = jpeg.size()});
  // Rows top to bottom: cut, page, gone, b, a.
  ServePage(Encoded(Link("/a.jpg")) + "," + Encoded(Link("/b.png")) + "," +
            Encoded(Link("/gone.jpg")) + "," + Encoded(Link("/page.jpg")) + "," +
            Encoded(Link("/cut.jpg")));
  m_window->Click(Control::kLoadButton);
  ASSERT_EQ(Rows().size(), 5u);
  const std::string tag = Tag();
  // An earlier run's file with the name the fifth claim (a.jpg) will want.
  std::filesystem::create_directories(m_pictures);
  WriteAll(m_pictures / ("5" + tag + ".jpg"), "an earlier picture");

  m_window->Click(Control::kDownloadButton);
  ASSERT_TRUE(WaitForWorkers(20s));

  const std::vector<std::string> states = {kStateFailed, kStateFailed, kStateFailed, kStateDone,
                                           kStateDone};
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 5u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i][1]);
    EXPECT_EQ(rows[i][2], states[i]);
  }
  EXPECT_EQ(ReadAll(m_pictures / ("5" + tag + ".jpg")), "an earlier picture");
  EXPECT_EQ(ReadAll(m_pictures / ("5" + tag + "-2.jpg")), jpeg) << "a JPEG is kept byte for byte";
  const std::string converted = ReadAll(m_pictures / ("4" + tag + ".jpg"));
  EXPECT_TRUE(IsJpeg(converted)) << "the PNG is converted";
  EXPECT_EQ(Names(m_pictures), (std::vector<std::string>{"4" + tag + ".jpg", "5" + tag + "-2.jpg",
                                                         "5" + tag + ".jpg"}))
      << "failed pictures leave no file, and no temporary file is left";

  std::lock_guard lock(m_reportsLock);
  ASSERT_EQ(m_reports.size(), 5u);
  std::map<int, bool> savedByClaim;
  for (const auto& report : m_reports) {
    savedByClaim[report.claim] = report.saved;
  }
  EXPECT_EQ(savedByClaim,
            (std::map<int, bool>{{1, false}, {2, false}, {3, false}, {4, true}, {5, true}}));
}

TEST_F(AppTest, ASecondClickFetchesNothingTwiceAndNumbersGoOn) {
  const std::string jpeg = ReadAll(kCorpus / "libjpeg-turbo" / "testorig.jpg");
  if (jpeg.empty()) {
    GTEST_SKIP() << "picture corpus not found";
  }
  StartWindow();
  std::string block;
  constexpr int kPictures = 6;
  for (int i = 0; i < kPictures; ++i) {
    const std::string path = "/slow" + std::to_string(i) + ".jpg";
    s_server->Route(path, Answer{.body = jpeg, .delayMs = 100});
    block += (i > 0 ? "," : "") + Encoded(Link(path));
  }
  ServePage(block);
  m_window->Click(Control::kLoadButton);
  const std::int64_t startedBefore = WorkersStarted();
  m_window->Click(Control::kDownloadButton);
  m_window->Click(Control::kDownloadButton);
  EXPECT_EQ(WorkersStarted() - startedBefore, 2 * kPictures) << "one worker per row per click";
  ASSERT_TRUE(WaitForWorkers(20s));

  for (int i = 0; i < kPictures; ++i) {
    EXPECT_EQ(RequestsFor("/slow" + std::to_string(i) + ".jpg"), 1);
  }
  const std::string tag = Tag();
  std::vector<std::string> expected;
  for (int claim = 1; claim <= kPictures; ++claim) {
    expected.push_back(std::to_string(claim) + tag + ".jpg");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(m_pictures), expected) << "claims 1 to 6, no gaps, no repeats";
  EXPECT_EQ(g_downloadSeq.load(), kPictures);

  // A third click after everything is done starts workers that find nothing.
  m_window->Click(Control::kDownloadButton);
  ASSERT_TRUE(WaitForWorkers(20s));
  EXPECT_EQ(Names(m_pictures).size(), static_cast<std::size_t>(kPictures));
  EXPECT_EQ(g_downloadSeq.load(), kPictures);
}

TEST_F(AppTest, AnEmptyListStartsNoThread) {
  StartWindow();
  const std::int64_t before = WorkersStarted();
  m_window->Click(Control::kDownloadButton);
  EXPECT_EQ(WorkersStarted(), before);
  EXPECT_EQ(ActiveWorkers(), 0);
}

TEST_F(AppTest, ARescanDuringDownloadsNeverMarksAWaitingRowDone) {
  const std::string jpeg = ReadAll(kCorpus / "libjpeg-turbo" / "testorig.jpg");
  if (jpeg.empty()) {
    GTEST_SKIP() << "picture corpus not found";
  }
  StartWindow();
  std::string oldBlock;
  for (int i = 0; i < 3; ++i) {
    const std::string path = "/old" + std::to_string(i) + ".jpg";
    s_server->Route(path, Answer{.body = jpeg, .delayMs = 300});
    oldBlock += (i > 0 ? "," : "") + Encoded(Link(path));
  }
  ServePage(oldBlock);
  m_window->Click(Control::kLoadButton);
  m_window->Click(Control::kDownloadButton);
  WaitForStates(kStateClaimed, 3);

  // The new page's pictures all fail, so a row of the new list can only end
  // "下载完成" through a mark meant for a row of the old one.
  std::string newBlock;
  for (int i = 0; i < 3; ++i) {
    const std::string path = "/new" + std::to_string(i) + ".jpg";
    s_server->Route(path, Answer{.status = 404});
    newBlock += (i > 0 ? "," : "") + Encoded(Link(path));
  }
  ServePage(newBlock);
  m_window->Click(Control::kLoadButton);
  ASSERT_TRUE(WaitForWorkers(20s));
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row[1]);
    EXPECT_NE(row[2], kStateDone);
    EXPECT_NE(row[2], kStateClaimed);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_LE(RequestsFor("/new" + std::to_string(i) + ".jpg"), 1);
  }
}

TEST_F(AppTest, ClosingDuringSlowDownloadsEndsQuicklyWithoutTemporaryFiles) {
  StartWindow();
  std::string block;
  for (int i = 0; i < 4; ++i) {
    const std::string path = "/stall" + std::to_string(i) + ".jpg";
    s_server->Route(path, Answer{.stall = true});
    block += (i > 0 ? "," : "") + Encoded(Link(path));
  }
  s_server->Route("/trickle.jpg",
                  Answer{.body = std::string(100000, 'x'), .chunkSize = 100, .chunkDelayMs = 20});
  block += "," + Encoded(Link("/trickle.jpg"));
  ServePage(block);
  m_window->Click(Control::kLoadButton);
  m_window->Click(Control::kDownloadButton);
  WaitForStates(kStateClaimed, 5);

  const auto start = std::chrono::steady_clock::now();
  m_window->Close();
  m_window->Run();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Without cancellation the stalled transfers would hold the workers for
  // the transport's 30 s stall limit.
  EXPECT_LT(elapsed, 5s);
  EXPECT_EQ(ActiveWorkers(), 0);
  EXPECT_TRUE(Names(m_pictures).empty());
  ExitCleanup();
  m_window.reset();
}

}  // namespace
}  // namespace pelmora::app
