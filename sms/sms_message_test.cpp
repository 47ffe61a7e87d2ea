#include "sms/sms_message.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/log_test_support.h"

namespace {

SmsMessage Parse(const std::string &bytes) {
  SmsMessage m;
  m.Feed(bytes.data(), bytes.size());
  return m;
}

TEST(SmsMessageReader, HeadersThenBody) {
  SmsMessage m = Parse("From: +100\nAlphabet: ISO\n\nline one\nline two\n");
  ASSERT_EQ(m.HeaderCount(), 2);
  EXPECT_EQ(m.HeaderName(0), "From");
  EXPECT_EQ(m.GetHeader("From"), "+100");
  EXPECT_EQ(m.GetHeader("Alphabet"), "ISO");
  EXPECT_TRUE(m.GetHeader("from").IsAbsent());  // names are case-sensitive
  EXPECT_EQ(m.Body(), "line one\nline two\n");
}

TEST(SmsMessageReader, FirstByteLineFeedGivesBodyOnly) {
  SmsMessage m = Parse("\nTo: x\n\nrest");
  EXPECT_EQ(m.HeaderCount(), 0);
  EXPECT_EQ(m.Body(), "To: x\n\nrest");
}

TEST(SmsMessageReader, LineWithoutColonHasAbsentValue) {
  SmsMessage m = Parse("Bare\nEmpty:\nTo: 1\n");
  ASSERT_EQ(m.HeaderCount(), 3);
  EXPECT_TRUE(m.GetHeader("Bare").IsAbsent());
  EXPECT_EQ(m.HeaderName(0), "Bare");
  // A colon directly followed by the line end is an empty, present value.
  EXPECT_FALSE(m.GetHeader("Empty").IsAbsent());
  EXPECT_EQ(m.GetHeader("Empty"), "");
  EXPECT_EQ(m.GetHeader("To"), "1");
  EXPECT_EQ(m.Body(), "");
}

TEST(SmsMessageReader, OnlyTheFirstBlankAfterTheColonIsSkipped) {
  EXPECT_EQ(Parse("Alphabet:UCS2\n").GetHeader("Alphabet"), "UCS2");
  EXPECT_EQ(Parse("Alphabet:  UCS2\n").GetHeader("Alphabet"), " UCS2");
  EXPECT_EQ(Parse("A: b: c \r\n").GetHeader("A"), "b: c \r");
  // The header name runs to the first colon, carriage returns included.
  EXPECT_EQ(Parse("A\rB: v\n").GetHeader("A\rB"), "v");
}

TEST(SmsMessageReader, RepeatedNameGivesTheFirstAndFileWithoutFinalLineFeed) {
  SmsMessage m = Parse("X: 1\nX: 2\nY: last");
  ASSERT_EQ(m.HeaderCount(), 3);
  EXPECT_EQ(m.GetHeader("X"), "1");
  EXPECT_EQ(m.HeaderValue(1), "2");
  EXPECT_EQ(m.GetHeader("Y"), "last");
}

TEST(SmsMessageReader, FedInPiecesReadsLikeOneBufferAndWritesBack) {
  const char raw[] = "To: +1\nAttempt: 3\n\nab\0c\n";
  std::string bytes(raw, sizeof raw - 1);
  SmsMessage m;
  for (char c : bytes) m.Feed(&c, 1);
  EXPECT_EQ(m.GetHeader("Attempt"), "3");
  EXPECT_EQ(m.Body(), std::string("ab\0c\n", 5));
  EXPECT_EQ(m.Serialize(), bytes);
}

TEST(SmsMessageReader, ZeroBytesShowAsQuestionMarks) {
  std::string bytes("\nA\0B\0", 5);
  SmsMessage m = Parse(bytes);
  EXPECT_EQ(m.Body().size(), 4u);
  EXPECT_EQ(m.BodyText(), "A?B?");
}

TEST(SmsMessageEdit, SetReplacesFirstOrAppends) {
  SmsMessage m = Parse("To: 1\nX: a\nX: b\n\nbody");
  m.SetHeader("X", "c");
  m.SetHeader("New", "n");
  EXPECT_EQ(m.Serialize(), "To: 1\nX: c\nX: b\nNew: n\n\nbody");
  m.ClearHeaders();
  EXPECT_EQ(m.HeaderCount(), 0);
  EXPECT_EQ(m.Serialize(), "\nbody");
  m.AppendBody(" more");
  EXPECT_EQ(m.Body(), "body more");
  m.Clear();
  EXPECT_EQ(m.Serialize(), "");
  // After Clear the reader starts over at a line start.
  m.Feed("H: v\n", 5);
  EXPECT_EQ(m.GetHeader("H"), "v");
}

TEST(SmsMessageWrite, RoundTripsThroughAFile) {
  TestDir dir;
  SmsMessage m;
  m.SetHeader("To", "+100");
  m.SetHeader("Bare", ScriptVariable::Absent());
  m.AppendBody("Hello\n\nworld");
  FILE *f = fopen(dir.File("m").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(m.Write(f));
  fclose(f);
  EXPECT_EQ(dir.Read("m"), "To: +100\nBare\n\nHello\n\nworld");

  SmsMessage back;
  ASSERT_TRUE(back.ReadFile(dir.File("m").c_str()));
  EXPECT_EQ(back.GetHeader("To"), "+100");
  EXPECT_TRUE(back.GetHeader("Bare").IsAbsent());
  EXPECT_EQ(back.HeaderCount(), 2);
  EXPECT_EQ(back.Body(), "Hello\n\nworld");
  EXPECT_FALSE(back.ReadFile(dir.File("missing").c_str()));
}

}  // namespace
