// The request routine: one HTTP or HTTPS exchange from start to end.
#pragma once

#include <optional>
#include <stop_token>

#include "text/bytes.h"
#include "text/text.h"

namespace pelmora::http {

inline constexpr char kDefaultUserAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// How an exchange ended.
struct RequestOutcome {
  int status = 0;         // final HTTP status; 0 when no answer arrived
  bool complete = false;  // the whole body arrived (not cut short, not failed)
};

// Every field is optional. Pointer fields are in/out or out parameters owned by
// the caller; null means "not given" (an in/out one then starts empty).
struct WebRequestOptions {
  // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT;
  // any other value is taken as 0.
  int method = 0;
  // The body for a method other than GET when `postBytes` is empty.
  text::Text postText{};
  // Given (even empty): the cookie text sent on a Cookie line, and the merge
  // of the sent and returned cookies is allowed. The transport never adds or
  // keeps cookies of its own.
  std::optional<text::Text> cookies = std::nullopt;
  // Out: when the merge runs, the merged cookie text (what the cookie
  // parameter is left holding). Untouched otherwise.
  text::Text* mergedCookies = nullptr;
  // Out: the cookie pairs of the answer's "Set-Cookie: " lines joined by "; ",
  // or the merged text when the merge runs.
  text::Text* returnedCookies = nullptr;
  // In/out: extra header lines joined by CRLF. Afterwards the normalised text
  // (when `normalizeHeaders`), then the complete block as sent.
  text::Text* headers = nullptr;
  // Out: the final answer's raw header block (status line and header lines,
  // each ending in CRLF, then an empty line), or 5000 spaces when no answer
  // arrived or the block is 5000 bytes or longer.
  text::Text* returnedHeaders = nullptr;
  // Hand a redirect answer back instead of following it.
  bool noRedirect = false;
  // In/out: the body for a method other than GET; when it is empty it is
  // replaced by the bytes of `postText`.
  text::Bytes* postBytes = nullptr;
  // Proxy address ("host:port"); empty: a direct connection. A plain address
  // uses it for http hops only, a secure one for every hop.
  text::Text proxy{};
  // Merge the sent and returned cookies when `cookies` was given.
  bool autoMerge = true;
  // Add the default Accept, Referer, Accept-Language and (POST) Content-Type
  // lines the header text lacks.
  bool completeHeaders = true;
  // Capitalise the header names and drop lines without ":" first.
  bool normalizeHeaders = true;
  RequestOutcome* outcome = nullptr;  // out
  // A stop request aborts the transfer within milliseconds; the call then
  // returns an empty body.
  std::stop_token cancel{};
};

// Performs one request; the response body, empty on every failure (a body
// cut short returns the bytes that arrived, with `outcome->complete` false).
// Redirects are followed (at most 10, http and https only) unless
// `noRedirect`; certificates are verified against the system store, or the
// file named by SSL_CERT_FILE. Transport limits: platform::SetHttpLimits.
// Safe to call from many threads at once.
[[nodiscard]] text::Bytes WebRequest(const text::Text& url, const WebRequestOptions& options = {});

}  // namespace pelmora::http
