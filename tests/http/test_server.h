// A real HTTP, HTTPS and proxy server on 127.0.0.1 for end-to-end tests.
//
// Link `pelmora_test_server` and start one server per test suite:
//
//   pelmora::testing::TestServer server({.root = folderWithPictures});
//   ASSERT_TRUE(server.ok());
//   server.Route("/post", {.body = pageBytes, .headers = {"Set-Cookie: a=1"}});
//   server.Route("/gone.jpg", {.status = 404});
//   server.Route("/cut.jpg", {.body = half, .declaredLength = whole.size()});
//   server.Route("/slow.jpg", {.body = bytes, .delayMs = 50});
//   auto body = WebRequest(server.HttpUrl("/post"), {.method = 1, .cookies = "k=v"});
//   auto requests = server.TakeRequests();  // exact bytes, oldest first
//
// What it serves, for any method: the route set for the request's path (with
// its query, else without it), else the file of that path under `root`
// (Content-Type from the extension, Content-Length), else 404 "not found".
// Keep-alive connections are served. A request in absolute form
// ("GET http://any.host/p HTTP/1.1") is answered as for "/p", so the server
// also stands in for a proxy; CONNECT to 127.0.0.1 or localhost tunnels to
// that port, so HTTPS through the proxy works end to end.
//
// It listens on three ephemeral ports: `httpPort()`, a second plain port
// (`otherHttpPort()`, for "another origin") and `httpsPort()` with a
// certificate for localhost and 127.0.0.1 signed by a CA made at start-up
// (`caFile()`); point SSL_CERT_FILE at it to trust the server.
//
// The server is a python3 script run as a child process (tests/http/
// test_server.py); it needs python3 and openssl. Calls on one TestServer may
// come from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::testing {

// A canned answer. With the defaults: "HTTP/1.1 200 OK", the header lines,
// "Content-Length: <body size>", then the body (none for HEAD).
struct Answer {
  int status = 200;
  std::string body{};
  std::vector<std::string> headers{};  // lines without CRLF, sent in order
  // Sent as Content-Length instead of the body size; when larger than the body
  // the connection closes after the body (a cut-short answer).
  std::optional<std::size_t> declaredLength = std::nullopt;
  // No Content-Length; "Connection: close" and the body ends at the close.
  bool closeDelimited = false;
  int delayMs = 0;            // waits this long before answering
  std::size_t chunkSize = 0;  // > 0: the body goes out in pieces of this size...
  int chunkDelayMs = 0;       // ...with this pause after each piece
  bool stall = false;         // never answers; holds the connection until the client leaves
  std::string raw{};          // non-empty: sent verbatim instead, then the connection closes
};

struct RecordedRequest {
  std::string listener;  // "http", "http2" or "https"
  int connection = 0;    // numbers the server's connections from 1; equal: one connection
  std::string raw;       // request line, header lines, empty line and body, as received
};

class TestServer {
 public:
  struct Options {
    std::filesystem::path root{};  // files served from here; empty: none
  };

  explicit TestServer(const Options& options);
  TestServer() : TestServer(Options{}) {}
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Whether the server came up; every other call is meaningless otherwise.
  [[nodiscard]] bool ok() const { return m_httpPort != 0; }
  [[nodiscard]] int httpPort() const { return m_httpPort; }
  [[nodiscard]] int otherHttpPort() const { return m_otherHttpPort; }
  [[nodiscard]] int httpsPort() const { return m_httpsPort; }
  // "http://127.0.0.1:<port>" + path, and the same for the other ports
  // ("https://localhost:<port>" + path for TLS).
  [[nodiscard]] std::string HttpUrl(std::string_view path) const;
  [[nodiscard]] std::string OtherHttpUrl(std::string_view path) const;
  [[nodiscard]] std::string HttpsUrl(std::string_view path) const;
  // The CA that signed the server's certificate (PEM).
  [[nodiscard]] std::filesystem::path caFile() const { return m_workdir / "ca.pem"; }

  // Answers every later request for `path` (the request-target, query
  // included; or without its query) with `answer`, replacing an earlier route.
  void Route(std::string_view path, const Answer& answer);
  // Forgets every route and every recorded request.
  void Reset();
  // The requests received so far, oldest first; Take also forgets them.
  [[nodiscard]] std::vector<RecordedRequest> Requests();
  [[nodiscard]] std::vector<RecordedRequest> TakeRequests();

 private:
  std::string Command(const std::string& json);
  std::vector<RecordedRequest> FetchLog(const char* kind);

  std::filesystem::path m_workdir;
  pid_t m_child = -1;
  std::mutex m_lock;                 // one command at a time on the pipes
  std::FILE* m_toChild = nullptr;    // guarded by m_lock
  std::FILE* m_fromChild = nullptr;  // guarded by m_lock
  int m_httpPort = 0;
  int m_otherHttpPort = 0;
  int m_httpsPort = 0;
};

}  // namespace pelmora::testing
