// The HTTP transport on libcurl.
//
// Each exchange drives its own easy handle through its own multi handle, so
// that a stop request can wake the wait at once (curl_multi_wakeup) and the
// stall limit is measured in milliseconds. Redirects are followed here rather
// than by libcurl: that is where the scheme check, the hop count, the Cookie
// line and the per-scheme proxy of every hop are decided.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/http.h"

namespace pelmora::platform {

namespace {

using Clock = std::chrono::steady_clock;

std::once_flag g_initOnce;
// Connections, DNS answers and TLS sessions of every call; set once under
// g_initOnce, then only read.
CURLSH* g_share = nullptr;
// One lock per kind of shared data; libcurl names the kind on every call.
std::array<std::mutex, CURL_LOCK_DATA_LAST> g_shareLocks;

std::mutex g_limitsLock;
HttpLimits g_limits;  // guarded by g_limitsLock

void LockShare(CURL* /*handle*/, curl_lock_data data, curl_lock_access /*access*/, void* /*user*/) {
  g_shareLocks[static_cast<std::size_t>(data)].lock();
}

void UnlockShare(CURL* /*handle*/, curl_lock_data data, void* /*user*/) {
  g_shareLocks[static_cast<std::size_t>(data)].unlock();
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool IsValidHost(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), IsHostByte);
}

// A raw GBK byte, a space or a control byte is not a valid request-target.
std::string EncodeTarget(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 || c <= 0x20 || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

// The proxy URL for a hop of the given scheme, or "" for a direct connection.
std::string PickProxy(std::string_view list, bool secure) {
  const std::string_view scheme = secure ? "https" : "http";
  std::string_view named;
  std::string_view unnamed;
  std::size_t pos = 0;
  while (pos < list.size()) {
    const std::size_t end = std::min(list.find_first_of(" ;", pos), list.size());
    const std::string_view entry = list.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) {
      continue;
    }
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      if (unnamed.empty()) {
        unnamed = entry;
      }
    } else if (named.empty() && EqualsIgnoringCase(entry.substr(0, equals), scheme)) {
      named = entry.substr(equals + 1);
    }
  }
  std::string_view address = named.empty() ? unnamed : named;
  if (StartsWithIgnoringCase(address, "http://")) {
    address.remove_prefix(7);
  }
  while (!address.empty() && address.back() == '/') {
    address.remove_suffix(1);
  }
  if (address.empty()) {
    return {};
  }
  std::string url = "http://" + std::string(address);
  if (address.find(':') == std::string_view::npos) {
    url += ":80";
  }
  return url;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

bool Append(Slist* list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list->get(), line.c_str());
  if (grown == nullptr) {
    return false;
  }
  (void)list->release();
  list->reset(grown);
  return true;
}

// The header lines of one hop, followed by the blank lines that keep libcurl
// from adding its own Accept, Expect, Content-Type and Proxy-Connection lines
// (libcurl never sends a line whose value is blank).
bool BuildHeaderList(std::string_view block, std::string_view userAgent, bool keepCookie,
                     Slist* list) {
  std::string agent(userAgent.substr(0, userAgent.find_first_of("\r\n")));
  if (!Append(list, "User-Agent: " + agent)) {
    return false;
  }
  std::size_t pos = 0;
  while (pos <= block.size()) {
    std::size_t end = block.find("\r\n", pos);
    if (end == std::string_view::npos) {
      end = block.size();
    }
    const std::string_view line = block.substr(pos, end - pos);
    pos = end + 2;
    if (line.empty() || line.find_first_of("\r\n") != std::string_view::npos) {
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      continue;
    }
    const std::string_view name = TrimSpaces(line.substr(0, colon));
    if (EqualsIgnoringCase(name, "User-Agent")) {
      continue;
    }
    if (!keepCookie && EqualsIgnoringCase(name, "Cookie")) {
      continue;
    }
    std::string entry(line);
    // "Name:" alone would make libcurl drop the line; "Name;" sends "Name:".
    if (TrimSpaces(line.substr(colon + 1)).empty()) {
      entry = std::string(line.substr(0, colon)) + ";";
    }
    if (!Append(list, entry)) {
      return false;
    }
  }
  for (const char* blank : {"Accept:", "Expect:", "Content-Type:", "Proxy-Connection:"}) {
    if (!Append(list, blank)) {
      return false;
    }
  }
  return true;
}

// What the callbacks of one hop collect.
struct Hop {
  CURL* easy = nullptr;
  std::size_t maxBody = 0;
  std::string rawHeaders;
  bool headersDone = false;
  std::string body;
  bool overCap = false;
  // A HEAD sent with a body: libcurl would wait for an answer body, so the
  // exchange ends with the header section.
  bool endAfterHeaders = false;
  bool endedAfterHeaders = false;
  Clock::time_point lastActivity;
  curl_off_t seenDown = 0;
  curl_off_t seenUp = 0;
  const std::stop_token* cancel = nullptr;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* hop = static_cast<Hop*>(user);
  const std::size_t n = size * count;
  hop->lastActivity = Clock::now();
  std::string_view line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  if (line.substr(0, 5) == "HTTP/") {
    // A new answer (after an interim 1xx one): only the last one is kept.
    hop->rawHeaders.clear();
    hop->headersDone = false;
  } else if (hop->headersDone) {
    return n;  // trailer lines after the body
  }
  const bool sectionEnds = line.empty();
  if (sectionEnds) {
    hop->headersDone = true;
  }
  const std::size_t room =
      kMaxRawHeaderBytes + 1 - std::min(hop->rawHeaders.size(), kMaxRawHeaderBytes + 1);
  std::string piece(line);
  piece += "\r\n";
  hop->rawHeaders.append(piece, 0, std::min(room, piece.size()));
  if (sectionEnds && hop->endAfterHeaders && hop->rawHeaders.compare(0, 10, "HTTP/1.1 1") != 0 &&
      hop->rawHeaders.compare(0, 10, "HTTP/1.0 1") != 0) {
    // A HEAD answer has no body, whatever its Content-Length says.
    hop->endedAfterHeaders = true;
    return 0;
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* hop = static_cast<Hop*>(user);
  const std::size_t n = size * count;
  hop->lastActivity = Clock::now();
  if (n > hop->maxBody - hop->body.size()) {
    hop->overCap = true;
    return 0;  // aborts the transfer
  }
  if (hop->body.empty()) {
    // One allocation for a body that declares its length.
    curl_off_t declared = -1;
    if (curl_easy_getinfo(hop->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) == CURLE_OK &&
        declared > 0 && static_cast<std::size_t>(declared) <= hop->maxBody) {
      hop->body.reserve(static_cast<std::size_t>(declared));
    }
  }
  hop->body.append(data, n);
  return n;
}

int OnProgress(void* user, curl_off_t /*dltotal*/, curl_off_t dlnow, curl_off_t /*ultotal*/,
               curl_off_t ulnow) {
  auto* hop = static_cast<Hop*>(user);
  if (dlnow != hop->seenDown || ulnow != hop->seenUp) {
    hop->seenDown = dlnow;
    hop->seenUp = ulnow;
    hop->lastActivity = Clock::now();
  }
  return hop->cancel->stop_requested() ? 1 : 0;
}

enum class HopEnd { kDone, kFailed, kCancelled };

struct HopResult {
  HopEnd end = HopEnd::kFailed;
  CURLcode code = CURLE_OK;
};

// Runs the easy handle to its end through `multi`.
HopResult RunHop(CURLM* multi, CURL* easy, Hop* hop, const HttpLimits& limits) {
  HopResult result;
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    return result;
  }
  hop->lastActivity = Clock::now();
  for (;;) {
    if (hop->cancel->stop_requested()) {
      result.end = HopEnd::kCancelled;
      break;
    }
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      break;
    }
    if (running == 0) {
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
          result.code = message->data.result;
          result.end = HopEnd::kDone;
        }
      }
      break;
    }
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - hop->lastActivity);
    if (idle >= limits.stallTimeout) {
      result.code = CURLE_OPERATION_TIMEDOUT;
      result.end = HopEnd::kDone;
      break;
    }
    const auto wait = std::clamp<long long>((limits.stallTimeout - idle).count(), 1, 1000);
    if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr) != CURLM_OK) {
      break;
    }
  }
  curl_multi_remove_handle(multi, easy);
  return result;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// Scheme, host and port of an absolute URL given by libcurl.
struct Origin {
  std::string scheme;
  std::string host;
  std::string port;
  friend bool operator==(const Origin&, const Origin&) = default;
};

// Also gives the URL back without user name, password and fragment, when
// `cleaned` is not null: credentials in a redirect would make libcurl send an
// Authorization line of its own.
bool ParseOrigin(const char* url, Origin* origin, std::string* cleaned = nullptr) {
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url, 0) != CURLUE_OK) {
    return false;
  }
  if (cleaned != nullptr) {
    char* value = nullptr;
    if (curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0) != CURLUE_OK ||
        curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0) != CURLUE_OK ||
        curl_url_set(parsed.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_URL, &value, 0) != CURLUE_OK) {
      return false;
    }
    *cleaned = value;
    curl_free(value);
  }
  const auto part = [&](CURLUPart which, unsigned flags, std::string* out) {
    char* value = nullptr;
    if (curl_url_get(parsed.get(), which, &value, flags) != CURLUE_OK) {
      return false;
    }
    *out = value;
    curl_free(value);
    return true;
  };
  if (!part(CURLUPART_SCHEME, 0, &origin->scheme) || !part(CURLUPART_HOST, 0, &origin->host) ||
      !part(CURLUPART_PORT, CURLU_DEFAULT_PORT, &origin->port)) {
    return false;
  }
  for (char& c : origin->scheme) {
    c = AsciiLower(c);
  }
  for (char& c : origin->host) {
    c = AsciiLower(c);
  }
  return true;
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Options every hop shares.
bool SetCommonOptions(CURL* easy, const HttpLimits& limits, Hop* hop) {
  bool ok = true;
  const auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_PATH_AS_IS, 1L);
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* caFile = std::getenv("SSL_CERT_FILE"); caFile != nullptr && *caFile != '\0') {
    set(CURLOPT_CAINFO, caFile);
  }
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
  set(CURLOPT_NOPROXY, "");
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  set(CURLOPT_HEADERFUNCTION, &OnHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(hop));
  set(CURLOPT_WRITEFUNCTION, &OnBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(hop));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &OnProgress);
  set(CURLOPT_XFERINFODATA, static_cast<void*>(hop));
  if (g_share != nullptr) {
    set(CURLOPT_SHARE, g_share);
  }
  return ok;
}

bool SetMethod(CURL* easy, const std::string& method, const std::optional<std::string_view>& body,
               Hop* hop) {
  bool ok = true;
  const auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };
  const bool head = method == "HEAD";
  // NOBODY first: it resets the method, and the body options set it again while
  // keeping the answer body unread.
  set(CURLOPT_NOBODY, head && !body ? 1L : 0L);
  hop->endAfterHeaders = head && body.has_value();
  if (body) {
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    set(CURLOPT_POSTFIELDS, body->data());
  } else if (!head) {
    set(CURLOPT_HTTPGET, 1L);
  }
  set(CURLOPT_CUSTOMREQUEST, method.c_str());
  return ok;
}

}  // namespace

void InitHttp() {
  std::call_once(g_initOnce, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      return;
    }
    CURLSH* share = curl_share_init();
    if (share == nullptr) {
      return;
    }
    bool ok = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &LockShare) == CURLSHE_OK &&
              curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &UnlockShare) == CURLSHE_OK;
    for (const curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
      ok = ok && curl_share_setopt(share, CURLSHOPT_SHARE, data) == CURLSHE_OK;
    }
    if (!ok) {
      curl_share_cleanup(share);
      return;
    }
    g_share = share;
  });
}

HttpLimits SetHttpLimits(const HttpLimits& limits) {
  const std::lock_guard lock(g_limitsLock);
  return std::exchange(g_limits, limits);
}

HttpLimits CurrentHttpLimits() {
  const std::lock_guard lock(g_limitsLock);
  return g_limits;
}

HttpResponse PerformHttp(const HttpRequest& request) {
  InitHttp();
  HttpResponse response;
  if (!IsValidHost(request.host) || request.port < 0 || request.port > 65535) {
    return response;
  }

  const HttpLimits limits = CurrentHttpLimits();
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) {
    return response;
  }

  Hop hop;
  hop.easy = easy.get();
  hop.maxBody = limits.maxBodyBytes;
  hop.cancel = &request.cancel;
  if (!SetCommonOptions(easy.get(), limits, &hop)) {
    return response;
  }

  // The first hop: origin URL plus the request-target exactly as encoded here.
  bool secure = request.secure;
  const int port = request.port != 0 ? request.port : (secure ? 443 : 80);
  const std::string origin = std::string(secure ? "https://" : "http://") +
                             std::string(request.host) + ":" + std::to_string(port);
  // The absolute form names the port only when it is not the default one.
  const std::string absolute = std::string("http://") + std::string(request.host) +
                               (port == 80 ? std::string() : ":" + std::to_string(port));
  std::string url = origin + "/";
  std::string target = EncodeTarget(request.path);
  std::string method(request.method);
  std::optional<std::string_view> body = request.body;
  Origin firstOrigin;
  if (!ParseOrigin(url.c_str(), &firstOrigin)) {
    return response;
  }
  bool keepCookie = true;

  response.started = true;
  const std::stop_callback wakeOnStop(request.cancel,
                                      [raw = multi.get()] { curl_multi_wakeup(raw); });

  for (int redirects = 0;; ++redirects) {
    Slist headers;
    const std::string proxy = PickProxy(request.proxy, secure);
    bool ok = BuildHeaderList(request.headerBlock, request.userAgent, keepCookie, &headers) &&
              curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
              curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str()) == CURLE_OK &&
              curl_easy_setopt(easy.get(), CURLOPT_PROXY, proxy.c_str()) == CURLE_OK &&
              SetMethod(easy.get(), method, body, &hop);
    // Through a proxy a plain request names its target in absolute form.
    const std::string fullTarget =
        (!target.empty() && !proxy.empty() && !secure) ? absolute + target : target;
    ok = ok && curl_easy_setopt(easy.get(), CURLOPT_REQUEST_TARGET,
                                fullTarget.empty() ? nullptr : fullTarget.c_str()) == CURLE_OK;
    if (!ok) {
      return response;
    }

    hop.rawHeaders.clear();
    hop.headersDone = false;
    hop.body.clear();
    hop.overCap = false;
    hop.endedAfterHeaders = false;
    hop.seenDown = hop.seenUp = 0;
    HopResult result = RunHop(multi.get(), easy.get(), &hop, limits);
    if (hop.endedAfterHeaders) {
      result.code = CURLE_OK;
    }
    if (result.end != HopEnd::kDone) {
      return response;  // cancelled or broken
    }

    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (request.followRedirects && result.code == CURLE_OK && hop.headersDone &&
        IsRedirect(status)) {
      char* location = nullptr;
      curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &location);
      if (location != nullptr) {
        Origin next;
        std::string nextUrl;
        if (redirects >= limits.maxRedirects || !ParseOrigin(location, &next, &nextUrl) ||
            (next.scheme != "http" && next.scheme != "https")) {
          return response;  // refused: no answer is handed back
        }
        keepCookie = keepCookie && next == firstOrigin;
        secure = next.scheme == "https";
        url = std::move(nextUrl);
        target.clear();
        if ((status == 303 && method != "HEAD") ||
            ((status == 301 || status == 302) && method == "POST")) {
          method = "GET";
          body.reset();
        }
        continue;
      }
    }

    response.answered = hop.headersDone;
    response.status = response.answered ? static_cast<int>(status) : 0;
    response.rawHeaders = std::move(hop.rawHeaders);
    if (!hop.overCap) {
      response.body = std::move(hop.body);
    }
    response.complete = result.code == CURLE_OK && response.answered;
    return response;
  }
}

}  // namespace pelmora::platform
