#include "http/web_request.h"

#include <array>
#include <string>

#include "http/cookies.h"
#include "http/headers.h"
#include "http/url.h"
#include "platform/http.h"
#include "text/extract.h"

namespace pelmora::http {

using text::Bytes;
using text::Text;

namespace {

constexpr char kCrLf[] = "\r\n";
constexpr int kHeaderCapture = 5000;

constexpr std::array<const char*, 8> kMethodNames = {"GET",     "POST",   "HEAD",  "PUT",
                                                     "OPTIONS", "DELETE", "TRACE", "CONNECT"};

bool Contains(const Text& haystack, const Text& needle, bool caseInsensitive) {
  return text::FindText(haystack, needle, std::nullopt, caseInsensitive) != -1;
}

Text AgentFor(const Text& headers) {
  if (!Contains(headers, "User-Agent:", true)) {
    return kDefaultUserAgent;
  }
  Text agent = text::TrimBoth(text::TextBetween(headers + kCrLf, "User-Agent:", kCrLf));
  if (agent.empty()) {
    agent = HeaderValue(headers);
  }
  return agent;
}

void CompleteHeaders(const Text& url, int method, Text* headers) {
  if (headers->empty()) {
    *headers = "Accept: */*";
  }
  if (!Contains(*headers, "Accept:", true)) {
    *headers += "\r\nAccept: */*";
  }
  if (!Contains(*headers, "Referer:", true)) {
    *headers += text::ConcatText("\r\nReferer: ", url);
  }
  if (!Contains(*headers, "Accept-Language:", true)) {
    *headers += "\r\nAccept-Language: zh-cn";
  }
  if (method == 1 && !Contains(*headers, "Content-Type:", true)) {
    *headers += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
}

Text CollectCookies(const Text& rawHeaders) {
  Text collected;
  for (const Text& line : text::SplitText(rawHeaders, kCrLf)) {
    if (text::CompareText(text::TextBefore(line, ": "), "Set-Cookie") != 0) {
      continue;
    }
    const Text pair = Contains(line, ";", false)
                          ? text::TextBetween(line, "Set-Cookie:", ";")
                          : text::ReplaceSubtext(line, "Set-Cookie:", {.caseSensitive = false});
    collected += text::ConcatText(text::TrimBoth(pair), "; ");
  }
  return text::TextLeft(collected, text::TextLength(collected) - 2);
}

}  // namespace

Bytes WebRequest(const Text& url, const WebRequestOptions& options) {
  Text headers = options.headers != nullptr ? *options.headers : Text();
  if (options.normalizeHeaders) {
    headers = NormalizeHeaderCase(headers);
    if (options.headers != nullptr) {
      *options.headers = headers;
    }
  }
  const int method = (options.method < 0 || options.method > 7) ? 0 : options.method;
  const bool secure = text::ToLower(text::TextLeft(url, 8)) == Text("https://");
  const Text agent = AgentFor(headers);
  // A plain address names its proxy for http alone.
  const Text proxy =
      options.proxy.empty() ? Text() : (secure ? options.proxy : Text("http=") + options.proxy);
  const Text host = UrlHost(url);
  const int port = UrlPort(url);
  const Text path = UrlPath(url);

  if (options.completeHeaders) {
    CompleteHeaders(url, method, &headers);
  }
  const Text cookies = options.cookies.value_or(Text());
  if (!cookies.empty()) {
    headers += Contains(cookies, "Cookie:", false) ? text::ConcatText(kCrLf, cookies)
                                                   : text::ConcatText("\r\nCookie: ", cookies);
  }

  Bytes postBytes = options.postBytes != nullptr ? *options.postBytes : Bytes();
  std::optional<std::string_view> body;
  if (method != 0) {
    if (postBytes.empty()) {
      postBytes = text::TextToBytes(options.postText);
    }
    body = postBytes.view();
  }

  platform::HttpResponse response = platform::PerformHttp({
      .method = kMethodNames[static_cast<std::size_t>(method)],
      .secure = secure,
      .host = host.view(),
      .port = port,
      .path = path.view(),
      .userAgent = agent.view(),
      .headerBlock = headers.view(),
      .body = body,
      .proxy = proxy.view(),
      .followRedirects = !options.noRedirect,
      .cancel = options.cancel,
  });
  if (options.outcome != nullptr) {
    *options.outcome = {.status = response.status, .complete = response.complete};
  }
  if (!response.started) {
    return {};  // nothing was opened: outputs stay as they were
  }

  if (options.headers != nullptr) {
    *options.headers = headers;
  }
  if (options.postBytes != nullptr && method != 0) {
    *options.postBytes = postBytes;
  }

  Text rawHeaders = text::BlankText(kHeaderCapture);
  if (response.answered && response.rawHeaders.size() < static_cast<std::size_t>(kHeaderCapture)) {
    rawHeaders = Text(std::string_view(response.rawHeaders));
  }
  if (options.returnedHeaders != nullptr) {
    *options.returnedHeaders = rawHeaders;
  }

  Text returnedCookies = CollectCookies(rawHeaders);
  if (options.autoMerge && options.cookies.has_value()) {
    Text sent = *options.cookies;
    returnedCookies = MergeCookies(&sent, &returnedCookies);
    if (options.mergedCookies != nullptr) {
      *options.mergedCookies = sent;
    }
  }
  if (options.returnedCookies != nullptr) {
    *options.returnedCookies = returnedCookies;
  }

  return Bytes(std::move(response.body));
}

}  // namespace pelmora::http
