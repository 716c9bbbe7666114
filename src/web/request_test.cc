#include "web/request.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

TEST(RequestTest, PathIsTakenByPositionFromTheRequestLine) {
  // Given request lines of both methods, expect the path without the method,
  // its blank and the character after it, cut at the next blank, lowercased
  // with the query kept; no blank after the path is a failed step.
  EXPECT_EQ(RequestPathOf("GET / HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(RequestPathOf("GET /Calls HTTP/1.0"), "calls");
  EXPECT_EQ(RequestPathOf("GET /Journal?dt=All HTTP/1.1"), "journal?dt=all");
  EXPECT_EQ(RequestPathOf("POST /Options HTTP/1.1\r\n"), "options");
  EXPECT_EQ(RequestPathOf("GET xcalls HTTP/1.0"), "calls");
  EXPECT_EQ(RequestPathOf("GET /a/B/"), std::nullopt);
  EXPECT_EQ(RequestPathOf("GET"), std::nullopt);
  EXPECT_EQ(RequestPathOf("GETX /a b GET /c d"), "c");
}

TEST(RequestTest, BasicCredentialIsBase64OfNameColonPassword) {
  // Given the three remainders of Base64 and an empty name and password,
  // expect the standard padding, and a credential found only right after
  // the header name in its own case.
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("\xff\xfe"), "//4=");
  EXPECT_TRUE(HasBasicCredential("GET /\r\nAuthorization: Basic Og==", "", ""));
  EXPECT_TRUE(HasBasicCredential("x Authorization: Basic YTpi\r\n", "a", "b"));
  EXPECT_FALSE(HasBasicCredential("Authorization: Basic YTp", "a", "b"));
  EXPECT_FALSE(HasBasicCredential("Authorization: basic YTpi", "a", "b"));
  EXPECT_FALSE(HasBasicCredential("Authorization:  Basic YTpi", "a", "b"));
}

TEST(RequestTest, ContainedPathsAndWholeRequests) {
  // Given paths with encoded and literal steps out of a folder, expect
  // them refused and ordinary names kept; a request is whole once its
  // header block ended and its announced body arrived.
  EXPECT_TRUE(IsContainedPath("/data/log/2005/x%20y.wav"));
  EXPECT_TRUE(IsContainedPath("a..b.gif"));
  for (const char* bad :
       {"..", "/data/../x", "a\\b", "%2e%2e", "x%2Fy", "x%5cy", "x%00y"})
    EXPECT_FALSE(IsContainedPath(bad)) << bad;
  EXPECT_EQ(PercentDecode("x%20y%c3%bc%zz%4"), "x y\xc3\xbc%zz%4");
  EXPECT_FALSE(RequestComplete("GET / HTTP/1.0\r\n"));
  EXPECT_TRUE(RequestComplete("GET / HTTP/1.0\n\n"));
  EXPECT_FALSE(
      RequestComplete("POST /options HTTP/1.1\r\ncontent-length: 5\r\n\r\nab"));
  EXPECT_TRUE(RequestComplete(
      "POST /options HTTP/1.1\r\nContent-Length:5\r\n\r\nabcde"));
  // The next request on a kept connection starts after the first's end.
  EXPECT_EQ(RequestLength("GET /a HTTP/1.1\n\nGET /b HTTP/1.1\r\n\r\n"), 17u);
  EXPECT_FALSE(
      WantsKeepAlive("GET / HTTP/1.1\r\nConnection: x, Close\r\n\r\n"));
  EXPECT_TRUE(
      WantsKeepAlive("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
  EXPECT_FALSE(WantsKeepAlive("GET / HTTP/1.0\r\n\r\n"));
  EXPECT_FALSE(WantsKeepAlive("HEAD / HTTP/1.1\r\n\r\n"));
}

TEST(RequestTest, ChangesComeFromThisServersPagesOnly) {
  // Given requests with and without Origin, fetch metadata and the page's
  // token, expect only the server's own origin, the token or a client that
  // is no browser page accepted; Host names of this machine only.
  const std::string head = "POST /options HTTP/1.1\r\nHost: 10.0.0.5:8080\r\n";
  EXPECT_TRUE(IsSameOrigin(head + "Origin: http://10.0.0.5:8080\r\n\r\n", "t"));
  EXPECT_TRUE(IsSameOrigin(head + "\r\n", "t"));
  EXPECT_TRUE(
      IsSameOrigin(head + "Origin: null\r\nx-linewarden-token: t\r\n", "t"));
  for (const char* foreign : {"Origin: null\r\n", "Origin: http://10.0.0.5\r\n",
                              "Origin: http://evil.example:8080\r\n",
                              "Sec-Fetch-Site: cross-site\r\n",
                              "Origin: x\r\nX-Linewarden-Token: \r\n"})
    EXPECT_FALSE(IsSameOrigin(head + foreign + "\r\n", "")) << foreign;
  EXPECT_TRUE(
      IsAllowedHost("GET / HTTP/1.1\r\nHost: [fe80::1]:80\r\n", "fe80::1"));
  EXPECT_TRUE(IsAllowedHost("GET / HTTP/1.1\r\nHost: 127.1.2.3\r\n", ""));
  EXPECT_FALSE(IsAllowedHost("GET / HTTP/1.1\r\nHost: 127.0.0.1.evil\r\n", ""));
}

}  // namespace
}  // namespace lw
