// Taking an address apart: host, port and the path of the request line.
//
// The address is handled as text, without a URL grammar: odd input gives an
// odd but well-defined result, never a failure. Pure functions; any thread.
#pragma once

#include <optional>

#include "text/text.h"

namespace pelmora::http {

struct UrlHostOptions {
  // Reduce the host to its last labels (first form: the last two; second
  // form: see `levels`).
  bool mainDomain = false;
  // Keep ":port" on the result.
  bool keepPort = false;
  // Given: the second form, which keeps the last levels + 2 labels (levels + 1
  // with `mainDomain`), or the whole host when it has fewer. Not given: the
  // first form.
  std::optional<int> levels = std::nullopt;
};

// The host of `url`, lower-cased. First form: the part after "https://" when
// the address begins with it, else after the first "http://" anywhere in it
// (the address without "http://" counts as if it began with it), up to the
// next "/". Second form: every "http://" and "https://" removed, cut before the
// first "/". Without `keepPort` the result ends before its first ":".
// Examples: "HTTP://A.B.C:8080/X/y" gives "a.b.c"; "" gives "".
[[nodiscard]] text::Text UrlHost(const text::Text& url, const UrlHostOptions& options = {});

// The port: TextToInt of what follows the last ":" of the host with its port,
// else 443 when `url` begins with "https" in any letter case, else 80.
// "httpsx://a" gives 443; a host ending in ":" gives 0.
[[nodiscard]] int UrlPort(const text::Text& url);

// The path from the first "/" after the host to the end of `url`, in the
// address's own letter case, query and fragment included; "/" when there is
// none. Always begins with "/".
[[nodiscard]] text::Text UrlPath(const text::Text& url);

}  // namespace pelmora::http
