// Preparing the caller's extra request header lines.
//
// A header text is lines joined by CRLF, each a name, a colon and a value.
// Only the ASCII letters a to z change case, and a double-byte character is
// never split or altered. Pure functions; any thread.
#pragma once

#include "text/text.h"

namespace pelmora::http {

// Every line of `headers` with its name (the part before the first ":")
// capitalised at its first byte and at each byte after a "-"; the rest of each
// word, the colon and the value are left as they are. Lines without ":" (empty
// lines included) are dropped. The result is joined by CRLF with none at the
// end; an empty text gives an empty text.
// Example: "user-agent: x\r\nnoise\r\ncontent-TYPE:a" gives
// "User-Agent: x\r\nContent-TYPE:a".
[[nodiscard]] text::Text NormalizeHeaderCase(const text::Text& headers);

// `text` with its first byte upper-cased when it is an ASCII lower-case
// letter; otherwise unchanged (an empty text stays empty).
[[nodiscard]] text::Text CapitalizeFirst(const text::Text& text);

// Everything after the first ":" of `text`, trimmed of spaces at both ends;
// later lines are included. The empty text when there is no ":".
// Example: "A: 1\r\nB: 2" gives "1\r\nB: 2".
[[nodiscard]] text::Text HeaderValue(const text::Text& text);

}  // namespace pelmora::http
