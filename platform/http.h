// One HTTP/1.1 exchange over the network, redirects included.
//
// The transport sends exactly what it is given, guards the wire against what
// must never be sent, and reports how the exchange ended. It keeps no cookies
// and no answers; only a process-wide cache of connections, DNS answers and
// TLS sessions outlives a call, shared by every thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace pelmora::platform {

// Bounds on one exchange.
struct HttpLimits {
  // Giving up on a connection (TCP and TLS) that is not up after this long.
  std::chrono::milliseconds connectTimeout{30'000};
  // Failing a transfer that moves no byte in either direction for this long.
  std::chrono::milliseconds stallTimeout{30'000};
  // Failing an answer whose body grows past this many bytes.
  std::size_t maxBodyBytes = std::size_t{256} << 20;
  // Failing after following this many redirects.
  int maxRedirects = 10;
};

struct HttpRequest {
  std::string_view method{};  // "GET", "POST", "HEAD", ... sent as it is
  bool secure = false;        // TLS, with the certificate verified
  std::string_view host{};    // name or IPv4 address; nothing else
  int port = 0;               // 1 to 65535; 0 means the scheme's default port
  // The request-target as raw bytes. Bytes 0x80 and above, spaces and control
  // bytes are sent percent-encoded; everything else byte for byte.
  std::string_view path{};
  // Sent as the one User-Agent line, right after Host. A CR or LF ends it.
  std::string_view userAgent{};
  // Header lines joined by CRLF, sent in their order after User-Agent. Lines
  // that are empty, hold a bare CR or LF, have no ":", or name User-Agent are
  // not sent. A Cookie line is dropped once a redirect leads to another scheme,
  // host or port.
  std::string_view headerBlock{};
  // The body, with a Content-Length line; nullopt sends neither.
  std::optional<std::string_view> body = std::nullopt;
  // Proxies as a list of entries separated by spaces or ";", each
  // "[scheme=][http://]host[:port]" (port 80 when left out). The entry naming
  // the scheme of the current hop wins, else an entry naming none; with no
  // matching entry the hop goes direct. Plain hops go through the proxy in
  // absolute form, secure ones through a CONNECT tunnel.
  std::string_view proxy{};
  // Follow 301, 302, 303, 307 and 308 answers (to http and https only).
  bool followRedirects = true;
  // A stop request aborts the exchange within a few milliseconds.
  std::stop_token cancel{};
};

struct HttpResponse {
  // False when the exchange could not be set up at all; nothing was sent and
  // every other field is empty.
  bool started = false;
  // The final answer's header section arrived whole.
  bool answered = false;
  int status = 0;  // the final answer's status code; 0 without an answer
  // The final answer's status line and header lines, each ending in CRLF,
  // then an empty line; at most kMaxRawHeaderBytes + 1 bytes (longer header
  // sections are cut there).
  std::string rawHeaders;
  // The final answer's body as far as it arrived. Empty when it grew past the
  // cap, when the exchange was cancelled, or when a redirect was refused.
  std::string body;
  // The whole body arrived: no cut-short body, broken connection, stall,
  // refused redirect, over-long body or cancellation.
  bool complete = false;
};

inline constexpr std::size_t kMaxRawHeaderBytes = std::size_t{64} * 1024;

// Global set-up of the HTTP library. Call once at program start, before any
// thread is started; later calls do nothing. PerformHttp calls it too, for
// programs (tests) that did not.
void InitHttp();

// Performs one exchange with the current limits. Blocks until the final
// answer has been read, the exchange failed or `cancel` was requested. Any
// thread; calls run in parallel.
[[nodiscard]] HttpResponse PerformHttp(const HttpRequest& request);

// The limits every exchange uses from now on; returns the previous ones.
// Tests shorten them; programs keep the defaults.
HttpLimits SetHttpLimits(const HttpLimits& limits);
[[nodiscard]] HttpLimits CurrentHttpLimits();

}  // namespace pelmora::platform
