// pelmora-cli run as a program against the local test server.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/server_test.h"
#include "tests/common/test_folder.h"
#include "tests/http/test_server.h"

extern char** environ;

namespace pelmora::app {
namespace {

using pelmora::testing::Answer;
using pelmora::testing::ReadAll;
using pelmora::testing::ServerTest;
using pelmora::testing::TestFolder;
using pelmora::testing::TestServer;
using pelmora::testing::WriteAll;

const std::filesystem::path kCorpus = PELMORA_CORPUS_DIR;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) {
    parts.push_back(part);
  }
  return parts;
}

class CliTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    m_jpeg = ReadAll(kCorpus / "libjpeg-turbo" / "testorig.jpg");
  }

  // Runs pelmora-cli with `arguments` (already quoted), standard input from
  // `input` when given.
  CliRun RunCli(const std::string& arguments, const std::string& input = "") {
    const auto outFile = m_folder.path() / "out.txt";
    const auto errFile = m_folder.path() / "err.txt";
    const auto inFile = m_folder.path() / "in.txt";
    WriteAll(inFile, input);
    const std::string command = Quoted(PELMORA_CLI) + " " + arguments + " <" +
                                Quoted(inFile.string()) + " >" + Quoted(outFile.string()) + " 2>" +
                                Quoted(errFile.string());
    const int raw = std::system(command.c_str());
    CliRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadAll(outFile);
    run.err = ReadAll(errFile);
    return run;
  }

  std::string Link(const std::string& path) const {
    return "//127.0.0.1:" + std::to_string(s_server->httpPort()) + path;
  }

  std::string Page(const std::vector<std::string>& paths) {
    std::string block;
    for (const auto& path : paths) {
      block += (block.empty() ? "" : ",") + Link(path);
    }
    return "<p>clear_picSrc=" + block + "&thumb_picSrc=%2F</p>";
  }

  std::string CookieSent() {
    for (const auto& request : s_server->Requests()) {
      if (request.raw.rfind("POST ", 0) == 0) {
        const auto start = request.raw.find("\r\nCookie: ");
        if (start == std::string::npos) {
          return "(none)";
        }
        const auto end = request.raw.find("\r\n", start + 2);
        return request.raw.substr(start + 10, end - start - 10);
      }
    }
    return "(no page request)";
  }

  TestFolder m_folder;
  std::string m_jpeg;
};

TEST_F(CliTest, PrintsOneLinePerPictureTopRowFirst) {
  if (m_jpeg.empty()) {
    GTEST_SKIP() << "picture corpus not found";
  }
  s_server->Route("/a.jpg", Answer{.body = m_jpeg});
  s_server->Route("/gone.jpg", Answer{.status = 404});
  s_server->Route("/post", Answer{.body = Page({"/a.jpg", "/gone.jpg"})});
  const auto dir = m_folder.path() / "my pictures";
  WriteAll(m_folder.path() / "cookie.txt", "sid=1; u=2\n");

  const CliRun run = RunCli("--dir " + Quoted(dir.string()) + " --cookie-file " +
                            Quoted((m_folder.path() / "cookie.txt").string()) + " " +
                            Quoted(s_server->HttpUrl("/post")));
  EXPECT_EQ(run.status, 1) << "one picture failed\n" << run.err;
  EXPECT_EQ(run.err, "") << "no progress bar when stderr is no terminal";
  EXPECT_EQ(CookieSent(), "sid=1; u=2") << "the file's line break is no part of the cookie";

  const auto lines = Split(run.out, '\n');
  ASSERT_EQ(lines.size(), 2u) << run.out;
  const auto top = Split(lines[0], '\t');
  const auto bottom = Split(lines[1], '\t');
  ASSERT_EQ(top.size(), 4u);
  ASSERT_EQ(bottom.size(), 4u);
  EXPECT_EQ(top[0], "2");
  EXPECT_EQ(top[1], "下载失败");
  EXPECT_EQ(top[2], "-");
  EXPECT_EQ(top[3], "http:" + Link("/gone.jpg"));
  EXPECT_EQ(bottom[0], "1");
  EXPECT_EQ(bottom[1], "下载完成");
  EXPECT_EQ(std::filesystem::path(bottom[2]).parent_path(), dir);
  EXPECT_EQ(ReadAll(bottom[2]), m_jpeg);
  EXPECT_EQ(std::filesystem::path(bottom[2]).filename().string().rfind('2', 0), 0u)
      << "the second claim: the top row was claimed first";
}

TEST_F(CliTest, AllSavedExitsZeroWithTheCookieFromStandardInput) {
  if (m_jpeg.empty()) {
    GTEST_SKIP() << "picture corpus not found";
  }
  s_server->Route("/a.jpg", Answer{.body = m_jpeg});
  s_server->Route("/post", Answer{.body = Page({"/a.jpg", "/a.jpg"})});
  const CliRun run = RunCli("--quiet --dir " + Quoted(m_folder.path().string()) +
                                " --cookie-file - " + Quoted(s_server->HttpUrl("/post")),
                            "from=stdin\r\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(CookieSent(), "from=stdin");
  EXPECT_EQ(Split(run.out, '\n').size(), 2u);
}

TEST_F(CliTest, ExitStatuses) {
  s_server->Route("/post", Answer{.body = "<p>no pictures here</p>"});
  s_server->Route("/empty", Answer{.body = "clear_picSrc=&thumb_picSrc=%"});
  const std::string dir = " --dir " + Quoted(m_folder.path().string()) + " ";
  struct Case {
    const char* label;
    std::string arguments;
    int status;
    const char* inOutput;  // a text stdout or stderr must hold
  };
  const std::vector<Case> cases = {
      {"no picture block", "--cookie old" + dir + Quoted(s_server->HttpUrl("/post")), 2,
       "cookie may have expired"},
      {"an empty block lists nothing and fails nothing",
       "--cookie k=v" + dir + Quoted(s_server->HttpUrl("/empty")), 0, ""},
      {"no address", "--cookie k=v", 64, "URL"},
      {"both cookie options", "--cookie a --cookie-file b x", 64, "excludes"},
      {"unknown option", "--bogus x", 64, "bogus"},
      {"unreadable cookie file",
       "--cookie-file " + Quoted((m_folder.path() / "missing").string()) + " x", 64, "cookie file"},
      {"help", "--help", 0, "--cookie-file"},
      {"version", "--version", 0, "pelmora-cli"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const CliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE((run.out + run.err).find(c.inOutput), std::string::npos) << run.out << run.err;
  }
}

TEST_F(CliTest, AnInterruptCancelsTheTransfersAndExits130) {
  std::string block;
  for (int i = 0; i < 3; ++i) {
    const std::string path = "/stall" + std::to_string(i) + ".jpg";
    s_server->Route(path, Answer{.stall = true});
    block += (block.empty() ? "" : ",") + Link(path);
  }
  s_server->Route("/post", Answer{.body = "clear_picSrc=" + block + "&thumb_picSrc=%"});
  const auto dir = m_folder.path() / "out";
  const std::string cli = PELMORA_CLI;
  const std::string url = s_server->HttpUrl("/post");
  const std::string dirText = dir.string();
  std::vector<char*> argv = {const_cast<char*>(cli.c_str()), const_cast<char*>("--quiet"),
                             const_cast<char*>("--cookie"),  const_cast<char*>("k=v"),
                             const_cast<char*>("--dir"),     const_cast<char*>(dirText.c_str()),
                             const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, cli.c_str(), nullptr, nullptr, argv.data(), environ), 0);

  // Wait until every picture request is in flight.
  for (int i = 0; i < 1000; ++i) {
    int gets = 0;
    for (const auto& request : s_server->Requests()) {
      gets += request.raw.rfind("GET /stall", 0) == 0 ? 1 : 0;
    }
    if (gets == 3) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto start = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  // The stalled transfers would otherwise hold it for the 30 s stall limit.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(pelmora::testing::Names(dir).empty());
}

}  // namespace
}  // namespace pelmora::app
