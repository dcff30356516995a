// The request routine. (Skeleton: the HTTP work fills in the contract and may
// add fields; the fields below are relied on by the application.)
#pragma once

#include <optional>
#include <stop_token>

#include "text/bytes.h"
#include "text/text.h"

namespace pelmora::http {

// How an exchange ended.
struct RequestOutcome {
  int status = 0;          // final HTTP status; 0 when no answer arrived
  bool complete = false;   // the whole body arrived (not cut short, not failed)
};

struct WebRequestOptions {
  int method = 0;                           // 0 GET, 1 POST, ...
  std::optional<text::Text> cookies;        // given: cookie line sent, no cookie store, merge allowed
  RequestOutcome* outcome = nullptr;        // out
  std::stop_token cancel;                   // a stop request aborts the transfer promptly
};

// Performs one request; the response body, empty on every failure.
// Safe to call from many threads at once.
[[nodiscard]] text::Bytes WebRequest(const text::Text& url, const WebRequestOptions& options = {});

}  // namespace pelmora::http
