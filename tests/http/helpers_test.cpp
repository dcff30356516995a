// URL decomposition, header preparation and cookie merging.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "http/cookies.h"
#include "http/headers.h"
#include "http/url.h"

namespace pelmora::http {
namespace {

using text::Text;
using text::TextList;

TEST(UrlTest, HostPortAndPath) {
  struct Case {
    const char* label;
    const char* url;
    const char* host;
    const char* hostWithPort;
    int port;
    const char* path;
  };
  const Case cases[] = {
      {"capital scheme, port, path", "HTTP://A.B.C:8080/X/y", "a.b.c", "a.b.c:8080", 8080, "/X/y"},
      {"no scheme", "a.b/x", "a.b", "a.b", 80, "/x"},
      {"secure with slash", "https://a.b.c/", "a.b.c", "a.b.c", 443, "/"},
      {"secure port, no path", "https://a.b.c:8443", "a.b.c", "a.b.c:8443", 8443, "/"},
      {"no path", "http://a.b", "a.b", "a.b", 80, "/"},
      {"empty", "", "", "", 80, "/"},
      {"443 decided on five bytes", "httpsx.a.b/p", "httpsx.a.b", "httpsx.a.b", 443, "/p"},
      {"unknown scheme reads as host and empty port", "httpsx://a.b", "httpsx", "httpsx:", 0,
       "//a.b"},
      {"httpsx with http inside", "httpsxhttp://a.b/p", "a.b", "a.b", 443, "/p"},
      {"non-numeric port", "http://a.b:x1/p", "a.b", "a.b:x1", 0, "/p"},
      {"host ending in colon", "http://a.b:/p", "a.b", "a.b:", 0, "/p"},
      {"http:// in the query", "a.b/?u=http://c.d/", "c.d", "c.d", 80, "/"},
      {"question mark stays in host", "http://a.b?x=1", "a.b?x=1", "a.b?x=1", 80, "/"},
      {"query and fragment kept", "http://x.cn/p?q=1#f", "x.cn", "x.cn", 80, "/p?q=1#f"},
      {"path case kept, host found ignoring case", "http://Host.COM/Path/A.JPG", "host.com",
       "host.com", 80, "/Path/A.JPG"},
      {"host found inside the scheme", "http://h/p", "h", "h", 80, "//h/p"},
      {"GBK path bytes", "http://x.cn/\xcd\xbc.jpg", "x.cn", "x.cn", 80, "/\xcd\xbc.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(UrlHost(c.url).str(), c.host);
    EXPECT_EQ(UrlHost(c.url, {.keepPort = true}).str(), c.hostWithPort);
    EXPECT_EQ(UrlPort(c.url), c.port);
    EXPECT_EQ(UrlPath(c.url).str(), c.path);
  }
}

TEST(UrlTest, HostForms) {
  struct Case {
    const char* label;
    const char* url;
    bool mainDomain;
    std::optional<int> levels;
    bool keepPort;
    const char* host;
  };
  const Case cases[] = {
      {"first form main domain", "http://w.a.b.c/x", true, std::nullopt, false, "b.c"},
      {"first form, no dot", "http://localhost/x", true, std::nullopt, false, "localhost"},
      {"first form main domain keeps port", "http://w.a.b.c:81/", true, std::nullopt, true,
       "b.c:81"},
      {"levels 0", "http://w.a.b.c/x", false, 0, false, "b.c"},
      {"levels 0 main", "http://w.a.b.c/x", true, 0, false, "c"},
      {"levels 1", "http://w.a.b.c/x", false, 1, false, "a.b.c"},
      {"levels 1 main", "http://w.a.b.c/x", true, 1, false, "b.c"},
      {"levels 5", "http://w.a.b.c/x", false, 5, false, "w.a.b.c"},
      {"levels 5 main", "http://w.a.b.c/x", true, 5, false, "w.a.b.c"},
      {"levels negative counts as 0", "w.a.b.c", false, -3, false, "b.c"},
      {"second form removes every scheme", "https://http://w.a.b.c", false, 0, false, "b.c"},
      {"second form port on last label", "http://w.a.b.c:8080/", false, 0, true, "b.c:8080"},
      {"second form port cut", "http://w.a.b.c:8080/", false, 0, false, "b.c"},
      {"second form single label", "http://x/", false, 0, false, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(
        UrlHost(c.url, {.mainDomain = c.mainDomain, .keepPort = c.keepPort, .levels = c.levels})
            .str(),
        c.host);
  }
}

TEST(HeadersTest, NormalizeHeaderCase) {
  struct Case {
    const char* label;
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"simple", "user-agent: x", "User-Agent: x"},
      {"rest of word keeps case, no space added", "content-TYPE:text/html",
       "Content-TYPE:text/html"},
      {"three words", "x-requested-with: a", "X-Requested-With: a"},
      {"double dash", "a--b: c", "A--B: c"},
      {"trailing dash", "x-: v", "X-: v"},
      {"leading space", " accept: x", " accept: x"},
      {"leading digit", "1abc: x", "1abc: x"},
      {"junk lines dropped", "accept: a\r\nno colon here\r\n\r\nreferer: b",
       "Accept: a\r\nReferer: b"},
      {"trailing CRLF", "accept: a\r\n", "Accept: a"},
      {"empty", "", ""},
      {"value untouched", "referer: http-equiv", "Referer: http-equiv"},
      {"empty name", ": v", ": v"},
      {"double-byte name untouched", "\xb1\xea-a: v", "\xb1\xea-A: v"},
      {"trail byte is not a word start", "\x81\x61-b: v", "\x81\x61-B: v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(NormalizeHeaderCase(c.in).str(), c.out);
  }
}

TEST(HeadersTest, CapitalizeFirstAndHeaderValue) {
  EXPECT_EQ(CapitalizeFirst("abc").str(), "Abc");
  EXPECT_EQ(CapitalizeFirst("aBC").str(), "ABC");
  EXPECT_EQ(CapitalizeFirst("").str(), "");
  EXPECT_EQ(CapitalizeFirst("\xb0\xa1x").str(), "\xb0\xa1x");
  EXPECT_EQ(CapitalizeFirst("1a").str(), "1a");

  EXPECT_EQ(HeaderValue("Name:   value  ").str(), "value");
  EXPECT_EQ(HeaderValue("no colon").str(), "");
  EXPECT_EQ(HeaderValue("A: 1\r\nB: 2").str(), "1\r\nB: 2");
  EXPECT_EQ(HeaderValue("A:").str(), "");
  EXPECT_EQ(HeaderValue("A: \xa1\xa1x\xa1\xa1").str(), "x");
}

TEST(CookiesTest, MergeCookies) {
  struct Case {
    const char* label;
    const char* sent;
    const char* received;
    const char* merged;
    const char* receivedAfter;
  };
  const Case cases[] = {
      {"received first, then missing sent", "a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
      {"deleted removes the sent cookie", "a=1; b=2", "b=deleted", "a=1", "b=deleted"},
      {"nothing received", "a=1", "", "a=1", ""},
      {"both empty", "", "", "", ""},
      {"second sent pair of a name dropped", "a=1; a=2", "", "a=1", ""},
      {"received pairs of one name both kept", "", "a=1; a=2", "a=1; a=2", "a=1;a=2"},
      {"equal received pairs merged", "", "a=1; a=1", "a=1", "a=1;a=1"},
      {"spaces vanish everywhere", "x = 1 ;y=2", "", "x=1; y=2", ""},
      {"full-width spaces vanish",
       "x=\xa1\xa1"
       "1",
       "", "x=1", ""},
      {"empty item kept", "x=1;;y=2", "", "x=1; ; y=2", ""},
      {"DELETED in capitals stays", "", "a=DELETED", "a=DELETED", "a=DELETED"},
      {"no equals sign names itself", "flag; a=1", "flag=2", "flag=2; a=1", "flag=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Text sent = c.sent;
    Text received = c.received;
    const Text result = MergeCookies(&sent, &received);
    EXPECT_EQ(result.str(), c.merged);
    EXPECT_EQ(sent.str(), c.merged);
    EXPECT_EQ(received.str(), c.receivedAfter);
  }
}

TEST(CookiesTest, Helpers) {
  EXPECT_EQ(CookieName(" a =1").str(), "a");
  EXPECT_EQ(CookieName("flag").str(), "flag");
  EXPECT_EQ(CookieName("a=b=c").str(), "a");
  EXPECT_TRUE(HasCookieNamed({"x=1", " a =2"}, "a"));
  EXPECT_FALSE(HasCookieNamed({"x=1"}, "X"));
  EXPECT_FALSE(HasCookieNamed({}, ""));

  EXPECT_EQ(JoinDistinct("a,b,a,c", ",", true).str(), "a,b,c");
  EXPECT_EQ(JoinDistinct("abca", "|", false).str(), "a|b|c");
  EXPECT_EQ(JoinDistinct("", "; ", true).str(), "");
  EXPECT_EQ(JoinDistinct("\xb0\xa1\xb0\xa1x", "", false).str(), "\xb0\xa1x");

  EXPECT_EQ(FindInList({"a", "b", "b"}, "b"), 2);
  EXPECT_EQ(FindInList({"a", "b", "b"}, "B"), -1);
  EXPECT_EQ(FindInList({}, "a"), -1);
}

TEST(CookiesTest, SplitCharacters) {
  struct Case {
    const char* label;
    std::string in;
    TextList pieces;
  };
  const Case cases[] = {
      {"CR LF is one piece, lone CR alone", "x\r\ny\r", {"x", "\r\n", "y", "\r"}},
      {"double-byte character", "\xb0\xa1z", {"\xb0\xa1", "z"}},
      {"0x80 is a single byte", "\x80z", {"\x80", "z"}},
      {"lead byte at the end", "z\xb0", {"z", "\xb0"}},
      {"empty", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TextList pieces = {"stale"};
    EXPECT_EQ(SplitCharacters(Text(c.in), &pieces), static_cast<int>(c.pieces.members().size()));
    EXPECT_EQ(pieces, c.pieces);
  }
}

}  // namespace
}  // namespace pelmora::http
