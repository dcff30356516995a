// Merging the cookies a request sent with those its answer set.
//
// A cookie text is pairs "name=value" joined by "; ". A pair whose last eight
// bytes are "=deleted" (with case) marks a cookie the server deleted. Pure
// functions; any thread.
#pragma once

#include "text/text.h"

namespace pelmora::http {

// The cookie text to send next time: every pair of `received` in its order,
// then every pair of `sent` whose name `received` lacks (the first pair of each
// name only), without pairs ending in "=deleted" nor the sent pairs they
// delete, and without byte-equal repeats. Every space is removed first, also
// inside names and values; pairs are joined by "; ".
// Afterwards `*sent` holds the result and `*received` its former text without
// spaces. Example: sent "a=1; b=2", received "b=3; c=4" gives "b=3; c=4; a=1".
text::Text MergeCookies(text::Text* sent, text::Text* received);

// The part of `pair` before its first "=" (all of it when there is none),
// trimmed of spaces.
[[nodiscard]] text::Text CookieName(const text::Text& pair);

// Whether any pair of `pairs` has the cookie name `name` (byte for byte).
[[nodiscard]] bool HasCookieNamed(const text::TextList& pairs, const text::Text& name);

// The distinct items of `value`, in the order of their first appearance,
// joined by `separator`. The items are the pieces between separators when
// `bySeparator` is true, else the characters (see SplitCharacters).
// Example: ("a,b,a,c", ",", true) gives "a,b,c"; ("abca", "|", false) "a|b|c".
[[nodiscard]] text::Text JoinDistinct(const text::Text& value, const text::Text& separator,
                                      bool bySeparator);

// Cuts `value` into characters: a lead byte above 0x80 with the byte after it,
// CR with a following LF, and every other byte alone (a lead byte at the very
// end too). `*pieces` is emptied first, then holds the pieces in order.
// Returns their count.
int SplitCharacters(const text::Text& value, text::TextList* pieces);

// The 1-based position of the first member of `list` equal to `item` byte for
// byte, or -1.
[[nodiscard]] int FindInList(const text::TextList& list, const text::Text& item);

}  // namespace pelmora::http
