#include "http/url.h"

#include "text/extract.h"

namespace pelmora::http {

using text::Text;

namespace {

// The last "." lying wholly before `before`; -1 when none or when `before` is -1.
int LastDotBefore(const Text& w, int before) {
  if (before == -1) {
    return -1;
  }
  return text::FindTextReverse(w, ".", before, false);
}

Text HostFirstForm(Text w, bool mainDomain) {
  if (text::TextRight(w, 1) != Text("/")) {
    w += "/";
  }
  if (text::TextLeft(w, 8) == Text("https://")) {
    w = text::TextBetween(w, "https://", "/");
  } else {
    if (text::FindText(w, "http://", std::nullopt, false) == -1) {
      w = Text("http://") + w;
    }
    w = text::TextBetween(w, "http://", "/");
  }
  if (mainDomain) {
    const text::TextList labels = text::SplitText(w, ".");
    const int count = text::ListCount(labels);
    if (count >= 2) {
      w = text::ConcatText(text::ListItem(labels, count - 1), ".", text::ListItem(labels, count));
    }
  }
  return w;
}

Text HostSecondForm(Text w, bool mainDomain, int levels) {
  w = text::ReplaceSubtext(w, "http://", {.caseSensitive = true});
  w = text::ReplaceSubtext(w, "https://", {.caseSensitive = true});
  const int slash = text::FindText(w, "/", std::nullopt, false);
  if (slash != -1) {
    w = text::TextLeft(w, slash - 1);
  }

  const int n = text::TextLength(w);
  int m = n;
  for (int i = 0; i < levels; ++i) {
    m = LastDotBefore(w, m);
  }
  const int o = LastDotBefore(w, m);
  if (mainDomain) {
    return text::TextRight(w, n - o);
  }
  if (o != -1) {
    const int o2 = LastDotBefore(w, o);
    if (o2 != -1) {
      return text::TextRight(w, n - o2);
    }
  }
  return w;
}

}  // namespace

Text UrlHost(const Text& url, const UrlHostOptions& options) {
  const Text lowered = text::ToLower(url);
  Text w = options.levels ? HostSecondForm(lowered, options.mainDomain, *options.levels)
                          : HostFirstForm(lowered, options.mainDomain);
  if (options.keepPort) {
    return w;
  }
  const int colon = text::FindText(w, ":", std::nullopt, false);
  return colon == -1 ? w : text::TextLeft(w, colon - 1);
}

int UrlPort(const Text& url) {
  const Text host = UrlHost(url, {.keepPort = true});
  const int colon = text::FindTextReverse(host, ":", std::nullopt, false);
  if (colon != -1) {
    return text::TextToInt(text::TextRight(host, text::TextLength(host) - colon));
  }
  return text::TextLeft(text::ToLower(url), 5) == Text("https") ? 443 : 80;
}

Text UrlPath(const Text& url) {
  const Text host = UrlHost(url);
  const int hostAt = text::FindText(url, host, 1, true);
  const int slash = text::FindText(url, "/", hostAt, true);
  if (slash == -1) {
    return "/";
  }
  return text::TextRight(url, text::TextLength(url) - slash + 1);
}

}  // namespace pelmora::http
