// The request routine against a real server on 127.0.0.1 that records the
// exact bytes of every request.
#include "http/web_request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"
#include "tests/http/test_server.h"

namespace pelmora::http {
namespace {

using testing::Answer;
using testing::RecordedRequest;
using testing::TestServer;
using text::Bytes;
using text::Text;

constexpr char kAgentLine[] = "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n";

class WebRequestTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::InitHttp();
    s_server = std::make_unique<TestServer>();
  }
  static void TearDownTestSuite() { s_server.reset(); }

  void SetUp() override {
    ASSERT_TRUE(s_server->ok());
    s_server->Reset();
    platform::SetHttpLimits({});
    ::unsetenv("SSL_CERT_FILE");
  }
  void TearDown() override {
    platform::SetHttpLimits({});
    ::unsetenv("SSL_CERT_FILE");
  }

  static TestServer& server() { return *s_server; }
  static void TrustServer() { ::setenv("SSL_CERT_FILE", server().caFile().c_str(), 1); }
  static std::string HostLine() {
    return "Host: 127.0.0.1:" + std::to_string(server().httpPort()) + "\r\n";
  }
  // The one request the server received since the last call.
  static std::string OnlyRequest() {
    const std::vector<RecordedRequest> requests = server().TakeRequests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? std::string() : requests.front().raw;
  }

  static inline std::unique_ptr<TestServer> s_server;
};

TEST_F(WebRequestTest, PageScanSendsPostWithCookie) {
  const std::string url = server().HttpUrl("/blog/post-1.html?x=y");
  server().Route("/blog/post-1.html?x=y", {.body = "<html>page</html>"});
  RequestOutcome outcome;
  const Bytes body =
      WebRequest(Text(url), {.method = 1, .cookies = Text("sid=abc; u=7"), .outcome = &outcome});
  EXPECT_EQ(body.str(), "<html>page</html>");
  EXPECT_EQ(outcome.status, 200);
  EXPECT_TRUE(outcome.complete);
  EXPECT_EQ(OnlyRequest(), "POST /blog/post-1.html?x=y HTTP/1.1\r\n" + HostLine() + kAgentLine +
                               "Accept: */*\r\n"
                               "Referer: " +
                               url +
                               "\r\n"
                               "Accept-Language: zh-cn\r\n"
                               "Content-Type: application/x-www-form-urlencoded\r\n"
                               "Cookie: sid=abc; u=7\r\n"
                               "Content-Length: 0\r\n"
                               "\r\n");

  // An empty cookie box sends no Cookie line; one holding "Cookie:" is sent as it is.
  (void)WebRequest(Text(url), {.method = 1, .cookies = Text()});
  EXPECT_EQ(OnlyRequest().find("Cookie"), std::string::npos);
  (void)WebRequest(Text(url), {.method = 1, .cookies = Text("Cookie: k=v")});
  EXPECT_NE(
      OnlyRequest().find("Content-Type: application/x-www-form-urlencoded\r\nCookie: k=v\r\n"),
      std::string::npos);
}

TEST_F(WebRequestTest, PictureFetchSendsGet) {
  const std::string url = server().HttpUrl("/pic/a b\xcd\xbc.jpg");
  server().Route("/pic/a%20b%CD%BC.jpg", {.body = std::string("\xff\xd8\0\x01", 4)});
  const Bytes body = WebRequest(Text(url));
  EXPECT_EQ(body.str(), std::string("\xff\xd8\0\x01", 4));
  EXPECT_EQ(OnlyRequest(), "GET /pic/a%20b%CD%BC.jpg HTTP/1.1\r\n" + HostLine() + kAgentLine +
                               "Accept: */*\r\n"
                               "Referer: " +
                               url +
                               "\r\n"
                               "Accept-Language: zh-cn\r\n"
                               "\r\n");
}

TEST_F(WebRequestTest, PictureFetchOverTls) {
  TrustServer();
  server().Route("/p.jpg", {.body = "jpeg"});
  const std::string url = server().HttpsUrl("/p.jpg");
  EXPECT_EQ(WebRequest(Text(url)).str(), "jpeg");
  const std::vector<RecordedRequest> requests = server().TakeRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].listener, "https");
  EXPECT_EQ(requests[0].raw,
            "GET /p.jpg HTTP/1.1\r\nHost: localhost:" + std::to_string(server().httpsPort()) +
                "\r\n" + kAgentLine + "Accept: */*\r\nReferer: " + url +
                "\r\nAccept-Language: zh-cn\r\n\r\n");

  // The scheme is told by the first eight bytes in any letter case.
  const std::string capitals =
      "HTTPS://LOCALHOST:" + std::to_string(server().httpsPort()) + "/p.jpg";
  EXPECT_EQ(WebRequest(Text(capitals)).str(), "jpeg");
  EXPECT_EQ(server().TakeRequests().at(0).listener, "https");
}

TEST_F(WebRequestTest, RequestLinesAndBodies) {
  struct Case {
    const char* label;
    int method;
    const char* headers;  // null: not given
    bool completeHeaders;
    bool normalizeHeaders;
    std::optional<Text> cookies;
    const char* postText;
    const char* postBytes;
    std::string expected;  // after the Host line; "{URL}" stands for the address
  };
  const std::string defaults = "Accept: */*\r\nReferer: {URL}\r\nAccept-Language: zh-cn\r\n";
  const std::string agent = kAgentLine;
  const Case cases[] = {
      {"method 8 is GET", 8, nullptr, true, true, std::nullopt, "ignored", "",
       "GET /r HTTP/1.1\r\n{HOST}" + agent + defaults + "\r\n"},
      {"method -1 is GET", -1, nullptr, true, true, std::nullopt, "", "",
       "GET /r HTTP/1.1\r\n{HOST}" + agent + defaults + "\r\n"},
      {"method 100 is GET", 100, nullptr, true, true, std::nullopt, "", "",
       "GET /r HTTP/1.1\r\n{HOST}" + agent + defaults + "\r\n"},
      {"PUT sends postText, no Content-Type", 3, nullptr, true, true, std::nullopt, "abc", "",
       "PUT /r HTTP/1.1\r\n{HOST}" + agent + defaults + "Content-Length: 3\r\n\r\nabc"},
      {"postBytes win over postText", 1, nullptr, true, true, std::nullopt, "text", "bytes",
       "POST /r HTTP/1.1\r\n{HOST}" + agent + defaults +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 5\r\n\r\nbytes"},
      {"DELETE with a body", 5, nullptr, true, true, std::nullopt, "d", "",
       "DELETE /r HTTP/1.1\r\n{HOST}" + agent + defaults + "Content-Length: 1\r\n\r\nd"},
      {"OPTIONS", 4, nullptr, true, true, std::nullopt, "", "",
       "OPTIONS /r HTTP/1.1\r\n{HOST}" + agent + defaults + "Content-Length: 0\r\n\r\n"},
      {"no block at all", 0, "", false, true, std::nullopt, "", "",
       "GET /r HTTP/1.1\r\n{HOST}" + agent + "\r\n"},
      {"cookie alone after an empty block", 0, "", false, true, Text("a=1"), "", "",
       "GET /r HTTP/1.1\r\n{HOST}" + agent + "Cookie: a=1\r\n\r\n"},
      {"Cookie in other case gets the name in front", 0, "", false, true, Text("cookie: a=1"), "",
       "", "GET /r HTTP/1.1\r\n{HOST}" + agent + "Cookie: cookie: a=1\r\n\r\n"},
      {"an Accept line in any case is kept, the rest completed", 1, "aCCEPT: text/html", true,
       false, std::nullopt, "", "",
       "POST /r HTTP/1.1\r\n{HOST}" + agent +
           "aCCEPT: text/html\r\nReferer: {URL}\r\nAccept-Language: zh-cn\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n\r\n"},
      {"caller's agent replaces the default, one line only", 0, "user-agent:  Foo/1 \r\nx-a: 1",
       false, true, std::nullopt, "", "",
       "GET /r HTTP/1.1\r\n{HOST}User-Agent: Foo/1\r\nX-A: 1\r\n\r\n"},
      {"empty and bare CR or LF lines are never sent", 0,
       "X-A: 1\r\n\r\nX-B: 2\rX-Evil: 1\r\nX-D: 3\nX-Evil: 2\r\nX-C: 3", false, false, std::nullopt,
       "", "", "GET /r HTTP/1.1\r\n{HOST}" + agent + "X-A: 1\r\nX-C: 3\r\n\r\n"},
      {"agent with a line break is cut there", 0, "user-agent: A\r\nX: 1", false, false,
       std::nullopt, "", "", "GET /r HTTP/1.1\r\n{HOST}User-Agent: A\r\nX: 1\r\n\r\n"},
      {"a blank value is still sent", 0, "X-Empty: ", false, false, std::nullopt, "", "",
       "GET /r HTTP/1.1\r\n{HOST}" + agent + "X-Empty:\r\n\r\n"},
      {"HEAD sends its body and reads none", 2, nullptr, true, true, std::nullopt, "hb", "",
       "HEAD /r HTTP/1.1\r\n{HOST}" + agent + defaults + "Content-Length: 2\r\n\r\nhb"},
  };
  server().Route("/r", {.body = "answer"});
  const std::string url = server().HttpUrl("/r");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Text headers = c.headers != nullptr ? Text(c.headers) : Text();
    Bytes postBytes(c.postBytes);
    RequestOutcome outcome;
    const Bytes body = WebRequest(Text(url), {.method = c.method,
                                              .postText = Text(c.postText),
                                              .cookies = c.cookies,
                                              .headers = c.headers != nullptr ? &headers : nullptr,
                                              .postBytes = &postBytes,
                                              .completeHeaders = c.completeHeaders,
                                              .normalizeHeaders = c.normalizeHeaders,
                                              .outcome = &outcome});
    EXPECT_EQ(outcome.status, 200);
    EXPECT_TRUE(outcome.complete);
    EXPECT_EQ(body.str(), c.method == 2 ? "" : "answer");
    std::string expected = c.expected;
    for (std::size_t at; (at = expected.find("{URL}")) != std::string::npos;) {
      expected.replace(at, 5, url);
    }
    for (std::size_t at; (at = expected.find("{HOST}")) != std::string::npos;) {
      expected.replace(at, 6, HostLine());
    }
    EXPECT_EQ(OnlyRequest(), expected);
  }
}

TEST_F(WebRequestTest, InOutParameters) {
  server().Route("/io", {.body = "ok",
                         .headers = {"Set-Cookie: a=1; path=/", "Set-Cookie: b=2",
                                     "set-cookie: lower=1", "Set-Cookie:nospace=1"}});
  const std::string url = server().HttpUrl("/io");
  Text headers = "x-one: 1";
  Bytes postBytes;
  Text returnedHeaders = "stale";
  Text returnedCookies = "stale";
  Text merged = "stale";
  const Bytes body = WebRequest(Text(url), {.method = 1,
                                            .postText = "p=1",
                                            .cookies = Text("b = 9; c=3"),
                                            .mergedCookies = &merged,
                                            .returnedCookies = &returnedCookies,
                                            .headers = &headers,
                                            .returnedHeaders = &returnedHeaders,
                                            .postBytes = &postBytes});
  EXPECT_EQ(body.str(), "ok");
  EXPECT_EQ(headers.str(),
            "X-One: 1\r\nAccept: */*\r\nReferer: " + url +
                "\r\nAccept-Language: zh-cn\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\nCookie: b = 9; c=3");
  EXPECT_EQ(postBytes.str(), "p=1");
  EXPECT_EQ(
      returnedHeaders.str(),
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nset-cookie: lower=1\r\n"
      "Set-Cookie:nospace=1\r\nContent-Length: 2\r\n\r\n");
  EXPECT_EQ(returnedCookies.str(), "a=1; b=2; c=3");
  EXPECT_EQ(merged.str(), "a=1; b=2; c=3");

  // Without the merge: only the collected pairs; the write-back stays untouched.
  merged = "untouched";
  (void)WebRequest(Text(url), {.cookies = Text("c=3"),
                               .mergedCookies = &merged,
                               .returnedCookies = &returnedCookies,
                               .autoMerge = false});
  EXPECT_EQ(returnedCookies.str(), "a=1; b=2");
  EXPECT_EQ(merged.str(), "untouched");

  // No Set-Cookie: the sent cookies come back re-joined; GET leaves postBytes alone.
  server().Route("/plain", {.body = "x"});
  postBytes = Bytes("keep");
  (void)WebRequest(
      Text(server().HttpUrl("/plain")),
      {.cookies = Text("x=1 ;y=2"), .returnedCookies = &returnedCookies, .postBytes = &postBytes});
  EXPECT_EQ(returnedCookies.str(), "x=1; y=2");
  EXPECT_EQ(postBytes.str(), "keep");
  (void)WebRequest(Text(server().HttpUrl("/plain")), {.returnedCookies = &returnedCookies});
  EXPECT_EQ(returnedCookies.str(), "");
}

TEST_F(WebRequestTest, HeaderCaptureStopsAt5000Bytes) {
  // "HTTP/1.1 200 OK\r\n" + "Set-Cookie: k=v\r\n" + pad line + "Content-Length: 1\r\n\r\n".
  const std::size_t fixed = 17 + 17 + 19 + 2;
  for (const std::size_t total : {std::size_t{4999}, std::size_t{5000}}) {
    SCOPED_TRACE(total);
    const std::string pad = "X-Pad: " + std::string(total - fixed - 9, 'p');
    server().Route("/big", {.body = "b", .headers = {"Set-Cookie: k=v", pad}});
    Text raw;
    Text cookies;
    EXPECT_EQ(WebRequest(Text(server().HttpUrl("/big")),
                         {.returnedCookies = &cookies, .returnedHeaders = &raw})
                  .str(),
              "b");
    if (total == 4999) {
      EXPECT_EQ(raw.size(), 4999);
      EXPECT_EQ(cookies.str(), "k=v");
    } else {
      EXPECT_EQ(raw.str(), std::string(5000, ' '));
      EXPECT_EQ(cookies.str(), "");
    }
  }
}

TEST_F(WebRequestTest, UnreachableServer) {
  // Nothing listens on port 1 of the loopback.
  Text raw = "stale";
  Text cookies = "stale";
  RequestOutcome outcome{.status = 7, .complete = true};
  const Bytes body = WebRequest("http://127.0.0.1:1/x", {.cookies = Text("a=1"),
                                                         .returnedCookies = &cookies,
                                                         .returnedHeaders = &raw,
                                                         .outcome = &outcome});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(raw.str(), std::string(5000, ' '));
  EXPECT_EQ(cookies.str(), "a=1");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_FALSE(outcome.complete);

  // An address with no usable host opens nothing: the outputs stay as they were.
  raw = "stale";
  Text headers = "x: 1";
  EXPECT_TRUE(WebRequest("http:///x", {.headers = &headers, .returnedHeaders = &raw}).empty());
  EXPECT_EQ(raw.str(), "stale");
  EXPECT_EQ(headers.str(), "X: 1");
}

TEST_F(WebRequestTest, ProxyForms) {
  server().Route("/via", {.body = "proxied"});
  const Text proxy(("127.0.0.1:" + std::to_string(server().httpPort())).c_str());
  // A plain address goes through the proxy in absolute form.
  EXPECT_EQ(WebRequest("http://pelmora.invalid/via?q=1", {.proxy = proxy, .completeHeaders = false})
                .str(),
            "proxied");
  EXPECT_EQ(OnlyRequest(), std::string("GET http://pelmora.invalid/via?q=1 HTTP/1.1\r\n"
                                       "Host: pelmora.invalid\r\n") +
                               kAgentLine + "\r\n");

  // A secure address tunnels through the same proxy.
  TrustServer();
  server().Route("/secure", {.body = "tunnelled"});
  EXPECT_EQ(WebRequest(Text(server().HttpsUrl("/secure")), {.proxy = proxy}).str(), "tunnelled");
  const std::vector<RecordedRequest> requests = server().TakeRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].listener, "http");
  EXPECT_EQ(requests[0].raw.substr(0, requests[0].raw.find("\r\n")),
            "CONNECT localhost:" + std::to_string(server().httpsPort()) + " HTTP/1.1");
  EXPECT_EQ(requests[1].listener, "https");
  EXPECT_EQ(requests[1].raw.substr(0, 20), "GET /secure HTTP/1.1");

  // The proxy of a plain address serves http alone: a redirect to https goes direct.
  server().Route("/up", {.status = 302, .headers = {"Location: " + server().HttpsUrl("/secure")}});
  EXPECT_EQ(WebRequest(Text(server().HttpUrl("/up")), {.proxy = proxy}).str(), "tunnelled");
  const std::vector<RecordedRequest> hops = server().TakeRequests();
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_EQ(hops[0].raw.substr(0, 4 + 7), "GET http://");
  EXPECT_EQ(hops[1].listener, "https");
  EXPECT_EQ(hops[1].raw.substr(0, 20), "GET /secure HTTP/1.1");
}

TEST_F(WebRequestTest, Redirects) {
  server().Route("/final", {.body = "final", .headers = {"Set-Cookie: f=1"}});
  server().Route(
      "/r1", {.status = 302, .body = "moved", .headers = {"Location: /final", "Set-Cookie: r=1"}});
  Text raw;
  Text cookies;
  RequestOutcome outcome;
  EXPECT_EQ(WebRequest(Text(server().HttpUrl("/r1")),
                       {.returnedCookies = &cookies, .returnedHeaders = &raw, .outcome = &outcome})
                .str(),
            "final");
  EXPECT_EQ(raw.str(), "HTTP/1.1 200 OK\r\nSet-Cookie: f=1\r\nContent-Length: 5\r\n\r\n");
  EXPECT_EQ(cookies.str(), "f=1");
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(server().TakeRequests().size(), 2u);

  // Not followed: the redirect answer itself comes back.
  EXPECT_EQ(
      WebRequest(Text(server().HttpUrl("/r1")), {.noRedirect = true, .outcome = &outcome}).str(),
      "moved");
  EXPECT_EQ(outcome.status, 302);
  EXPECT_TRUE(outcome.complete);
  EXPECT_EQ(server().TakeRequests().size(), 1u);

  // A POST answered by 302 goes on as a GET without a body.
  EXPECT_EQ(WebRequest(Text(server().HttpUrl("/r1")), {.method = 1, .postText = "a=b"}).str(),
            "final");
  std::vector<RecordedRequest> hops = server().TakeRequests();
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_EQ(hops[1].raw.substr(0, 19), "GET /final HTTP/1.1");
  EXPECT_EQ(hops[1].raw.find("Content-Length"), std::string::npos);

  // Only http and https: a redirect elsewhere fails the request.
  server().Route("/file",
                 {.status = 302, .body = "x", .headers = {"Location: file:///etc/passwd"}});
  EXPECT_TRUE(
      WebRequest(Text(server().HttpUrl("/file")), {.returnedHeaders = &raw, .outcome = &outcome})
          .empty());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(raw.str(), std::string(5000, ' '));
  server().Reset();

  // A loop ends after ten redirects.
  server().Route("/loop", {.status = 301, .headers = {"Location: /loop"}});
  EXPECT_TRUE(WebRequest(Text(server().HttpUrl("/loop")), {.outcome = &outcome}).empty());
  EXPECT_FALSE(outcome.complete);
  EXPECT_EQ(server().TakeRequests().size(), 11u);
}

TEST_F(WebRequestTest, CookieLineStaysWithItsOrigin) {
  server().Route("/same", {.status = 307, .headers = {"Location: " + server().HttpUrl("/end")}});
  server().Route("/away",
                 {.status = 302, .headers = {"Location: " + server().OtherHttpUrl("/end")}});
  server().Route("/end", {.body = "end"});
  server().Route("/creds", {.status = 302,
                            .headers = {"Location: http://user:pw@127.0.0.1:" +
                                        std::to_string(server().httpPort()) + "/end#frag"}});
  EXPECT_EQ(WebRequest(Text(server().HttpUrl("/same")), {.cookies = Text("s=1")}).str(), "end");
  std::vector<RecordedRequest> hops = server().TakeRequests();
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_NE(hops[1].raw.find("\r\nCookie: s=1\r\n"), std::string::npos);

  // Credentials in a redirect are not turned into an Authorization line.
  EXPECT_EQ(WebRequest(Text(server().HttpUrl("/creds"))).str(), "end");
  hops = server().TakeRequests();
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_EQ(hops[1].raw.substr(0, 17), "GET /end HTTP/1.1");
  EXPECT_EQ(hops[1].raw.find("Authorization"), std::string::npos);

  EXPECT_EQ(WebRequest(Text(server().HttpUrl("/away")), {.cookies = Text("s=1")}).str(), "end");
  hops = server().TakeRequests();
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_NE(hops[0].raw.find("Cookie: s=1"), std::string::npos);
  EXPECT_EQ(hops[1].listener, "http2");
  EXPECT_EQ(hops[1].raw.find("Cookie"), std::string::npos);
}

TEST_F(WebRequestTest, CertificatesAreVerified) {
  server().Route("/tls", {.body = "secret"});
  RequestOutcome outcome;
  Text raw;
  EXPECT_TRUE(WebRequest(Text(server().HttpsUrl("/tls")),
                         {.cookies = Text("sid=1"), .returnedHeaders = &raw, .outcome = &outcome})
                  .empty());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(raw.str(), std::string(5000, ' '));
  EXPECT_TRUE(server().TakeRequests().empty());

  TrustServer();
  EXPECT_EQ(WebRequest(Text(server().HttpsUrl("/tls")), {.outcome = &outcome}).str(), "secret");
  EXPECT_EQ(outcome.status, 200);

  // The name must match too: the certificate is for localhost and 127.0.0.1 only.
  server().Route("/tls-name", {.body = "x"});
  const std::string wrongName =
      "https://127.0.0.2:" + std::to_string(server().httpsPort()) + "/tls-name";
  EXPECT_TRUE(WebRequest(Text(wrongName)).empty());
}

TEST_F(WebRequestTest, BoundedWaitsAndSizes) {
  platform::SetHttpLimits({.stallTimeout = std::chrono::milliseconds(300), .maxBodyBytes = 1000});
  RequestOutcome outcome;

  server().Route("/stall", {.stall = true});
  EXPECT_TRUE(WebRequest(Text(server().HttpUrl("/stall")), {.outcome = &outcome}).empty());
  EXPECT_FALSE(outcome.complete);

  // Pauses shorter than the limit are not a stall.
  server().Route("/trickle", {.body = std::string(40, 't'), .chunkSize = 10, .chunkDelayMs = 100});
  EXPECT_EQ(WebRequest(Text(server().HttpUrl("/trickle")), {.outcome = &outcome}).size(), 40);
  EXPECT_TRUE(outcome.complete);

  struct Case {
    const char* label;
    Answer answer;
    std::size_t bodySize;
    bool complete;
  };
  const Case cases[] = {
      {"at the cap", {.body = std::string(1000, 'a')}, 1000, true},
      {"over the cap, declared", {.body = std::string(1001, 'a')}, 0, false},
      {"over the cap, undeclared",
       {.body = std::string(5000, 'a'), .closeDelimited = true},
       0,
       false},
      {"cut short", {.body = std::string(50, 'c'), .declaredLength = 100}, 50, false},
      {"ends at the close", {.body = std::string(70, 'e'), .closeDelimited = true}, 70, true},
      {"stalls after the first piece",
       {.body = std::string(40, 's'), .chunkSize = 10, .chunkDelayMs = 2000},
       10,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    server().Route("/sized", c.answer);
    outcome = {};
    EXPECT_EQ(WebRequest(Text(server().HttpUrl("/sized")), {.outcome = &outcome}).str().size(),
              c.bodySize);
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(outcome.complete, c.complete);
  }
}

TEST_F(WebRequestTest, StopRequestEndsTheTransfer) {
  server().Route("/stall", {.stall = true});
  std::stop_source stop;
  std::jthread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request_stop();
  });
  const auto start = std::chrono::steady_clock::now();
  RequestOutcome outcome;
  EXPECT_TRUE(WebRequest(Text(server().HttpUrl("/stall")),
                         {.outcome = &outcome, .cancel = stop.get_token()})
                  .empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(outcome.complete);
}

TEST_F(WebRequestTest, ConnectionsAreReused) {
  TrustServer();
  server().Route("/again", {.body = "again"});
  for (const std::string& url : {server().HttpUrl("/again"), server().HttpsUrl("/again")}) {
    SCOPED_TRACE(url);
    EXPECT_EQ(WebRequest(Text(url)).str(), "again");
    EXPECT_EQ(WebRequest(Text(url)).str(), "again");
    const std::vector<RecordedRequest> requests = server().TakeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].connection, requests[1].connection);
  }
}

TEST_F(WebRequestTest, ParallelCallsShareNothingVisible) {
  TrustServer();
  for (int i = 0; i < 16; ++i) {
    server().Route("/p" + std::to_string(i),
                   {.body = std::string(20000 + i, static_cast<char>('a' + i))});
  }
  std::atomic<int> good{0};
  {
    std::vector<std::jthread> threads;
    threads.reserve(16);
    for (int i = 0; i < 16; ++i) {
      threads.emplace_back([i, &good] {
        const std::string path = "/p" + std::to_string(i);
        const std::string url = i % 2 == 0 ? server().HttpUrl(path) : server().HttpsUrl(path);
        RequestOutcome outcome;
        const Bytes body = WebRequest(Text(url), {.outcome = &outcome});
        if (outcome.complete && body.str() == std::string(20000 + i, static_cast<char>('a' + i))) {
          ++good;
        }
      });
    }
  }
  EXPECT_EQ(good.load(), 16);
}

}  // namespace
}  // namespace pelmora::http

namespace pelmora::http {
namespace {

// The server's folder mode, which the application's end-to-end tests rely on.
TEST(TestServerFolderTest, ServesFilesByTheirRawNames) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("pelmora-root-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root / "pics");
  const std::string gbkName = "\xcd\xbc 1.jpg";
  { std::ofstream(root / "pics" / gbkName, std::ios::binary) << std::string("\xff\xd8jpeg", 6); }
  {
    TestServer server({.root = root});
    ASSERT_TRUE(server.ok());
    RequestOutcome outcome;
    EXPECT_EQ(WebRequest(Text(server.HttpUrl("/pics/" + gbkName)), {.outcome = &outcome}).str(),
              std::string("\xff\xd8jpeg", 6));
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(WebRequest(Text(server.HttpUrl("/pics/missing.jpg")), {.outcome = &outcome}).str(),
              "not found");
    EXPECT_EQ(outcome.status, 404);
    EXPECT_EQ(WebRequest(Text(server.HttpUrl("/pics/../pics/x")), {.outcome = &outcome}).str(),
              "not found");
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace pelmora::http
