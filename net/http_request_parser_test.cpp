#include "net/http_request_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "net/http_message.h"

namespace {

void FeedAll(OVKHttpRequestParser &p, const std::string &bytes) {
  for (unsigned char c : bytes) p.Feed(c);
}

std::string BodyText(const OVKHttpMessage &m) {
  return std::string(m.Body().GetBuffer(), m.Body().Length());
}

TEST(HttpRequestParser, RequestLineThenEmptyLineEndsHead) {
  OVKHttpRequestParser p;
  FeedAll(p, "\r\n\r\n  GET / HTTP/1.1\r\n");
  EXPECT_TRUE(p.RequestLineComplete());
  EXPECT_FALSE(p.HeadComplete());
  FeedAll(p, "\r\n");
  EXPECT_TRUE(p.HeadComplete());
  EXPECT_EQ("GET / HTTP/1.1", p.StartLine().Str());
  EXPECT_EQ(0, p.HeaderCount());
  // "GET / HTTP/1.1" plus its line feed; the carriage returns do not count.
  EXPECT_EQ(15, p.HeadSize());
}

TEST(HttpRequestParser, HeadersKeepOrderAndSkipLeadingBlanksOnly) {
  OVKHttpRequestParser p;
  FeedAll(
      p,
      "POST /x HTTP/1.0\r\nHost:  \texample \r\nX-A: 1\r\nX-A: 2\r\n\r\nbody");
  ASSERT_TRUE(p.HeadComplete());
  ASSERT_EQ(3, p.HeaderCount());
  EXPECT_EQ("Host", p.HeaderAt(0).name.Str());
  EXPECT_EQ("example ", p.HeaderAt(0).value.Str());
  EXPECT_EQ("1", GetHeader(p, "X-A").Str());
  EXPECT_EQ("2", p.HeaderAt(2).value.Str());
  EXPECT_TRUE(GetHeader(p, "host").IsAbsent());
  EXPECT_EQ("body", BodyText(p));
}

TEST(HttpRequestParser, FoldedHeaderIsJoinedByOneBlank) {
  OVKHttpRequestParser p;
  FeedAll(p,
          "GET / HTTP/1.1\r\nX-Long: first\r\n  \t second\r\nX-B: b\r\n\r\n");
  ASSERT_TRUE(p.HeadComplete());
  ASSERT_EQ(2, p.HeaderCount());
  EXPECT_EQ("first second", GetHeader(p, "X-Long").Str());
  EXPECT_EQ("b", GetHeader(p, "X-B").Str());
}

TEST(HttpRequestParser, HeaderCompletesOnlyWhenTheNextLineStarts) {
  OVKHttpRequestParser p;
  FeedAll(p, "GET / HTTP/1.1\nA: 1\n");
  EXPECT_EQ(0, p.HeaderCount());  // a folded line might still follow
  FeedAll(p, "B");
  EXPECT_EQ(1, p.HeaderCount());
  FeedAll(p, ": 2\n\n");
  EXPECT_TRUE(p.HeadComplete());
  EXPECT_EQ("2", GetHeader(p, "B").Str());
}

TEST(HttpRequestParser, MalformedNameLinesAreNotRejected) {
  OVKHttpRequestParser p;
  // Blanks in a name are dropped; a line without a colon runs on into the
  // next line's name.
  FeedAll(p, "GET / HTTP/1.1\r\nX Y: v\r\nbroken\r\nZ: w\r\n\r\n");
  ASSERT_TRUE(p.HeadComplete());
  ASSERT_EQ(2, p.HeaderCount());
  EXPECT_EQ("v", GetHeader(p, "XY").Str());
  EXPECT_EQ("w", GetHeader(p, "brokenZ").Str());
  EXPECT_EQ(OVKHttpRequestParser::kLineWithoutColon, p.ErrorCode());
}

TEST(HttpRequestParser, HeadSizeCountsSignificantBytes) {
  OVKHttpRequestParser p;
  FeedAll(p, "G\r\nAb: cd\r\n e\r\n\r\n");
  // "G\n" 2, "Ab:" 3, " cd" 3, fold " e" 2, end of head 1.
  EXPECT_EQ(11, p.HeadSize());
  EXPECT_EQ("cd e", GetHeader(p, "Ab").Str());
  FeedAll(p, std::string(100, 'x'));
  EXPECT_EQ(11, p.HeadSize());  // body bytes are not head
}

TEST(HttpDecode, PlusPercentAndShortEscapes) {
  EXPECT_EQ("/a b c", HttpDecode("/a%20b+c").Str());
  EXPECT_EQ("/A%4", HttpDecode("/%41%4").Str());
  EXPECT_EQ("%", HttpDecode("%").Str());
  EXPECT_EQ("/ab", HttpDecode("/ab%zzcd").Str());  // a non-hex pair ends it
  EXPECT_EQ("x", HttpDecode("x%00y").Str());
  EXPECT_EQ("\xff", HttpDecode("%ff").Str());
}

TEST(ParseForm, NamesValuesAndLeftovers) {
  HttpFormFields f = ParseForm("a=1&b=x%3Dy+z&c=d=e&f&g=h&tail");
  ASSERT_EQ(4u, f.size());
  EXPECT_EQ("a", f[0].first.Str());
  EXPECT_EQ("1", f[0].second.Str());
  EXPECT_EQ("x=y z", f[1].second.Str());
  EXPECT_EQ("d=e", f[2].second.Str());
  EXPECT_EQ("f&g", f[3].first.Str());  // an '&' before the '=' is name
  EXPECT_EQ("h", f[3].second.Str());

  HttpFormFields empty_value = ParseForm("command=");
  ASSERT_EQ(1u, empty_value.size());
  EXPECT_EQ("", empty_value[0].second.Str());
  EXPECT_TRUE(ParseForm("").empty());
  EXPECT_TRUE(ParseForm("novalue").empty());
}

}  // namespace
