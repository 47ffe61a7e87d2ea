#include "net/buffer.h"

#include <gtest/gtest.h>

#include <string>

TEST(BufferTest, GrowsByDoublingAndKeepsBytes) {
  OVKBuffer b;
  EXPECT_EQ(512, b.Capacity());
  std::string text(600, 'x');
  text[0] = 'a';
  text[599] = 'z';
  b.AddData(text.data(), 600);
  EXPECT_EQ(1024, b.Capacity());
  b.AddData(std::string(3000, 'y').data(), 3000);
  EXPECT_EQ(4096, b.Capacity());
  EXPECT_EQ(3600, b.Length());
  EXPECT_EQ(std::string(b.GetBuffer(), 600), text);
  b.Erase();
  EXPECT_EQ(0, b.Length());
  EXPECT_EQ(4096, b.Capacity());
}

TEST(BufferTest, TakesAndDropsFromTheFront) {
  OVKBuffer b;
  char out[8];
  EXPECT_EQ(0, b.GetData(out, 8));
  b.AddString("hello world");
  b.AddString(nullptr);
  b.AddChar('!');
  EXPECT_EQ(5, b.GetData(out, 5));
  EXPECT_EQ("hello", std::string(out, 5));
  b.DropData(1);
  EXPECT_EQ(6, b.GetData(out, 8));
  EXPECT_EQ("world!", std::string(out, 6));
  EXPECT_EQ(0, b.Length());
  b.AddString("ab");
  b.DropData(10);
  EXPECT_EQ(0, b.Length());
}

TEST(BufferTest, ReadLineHandlesCarriageReturnAndPartialLines) {
  OVKBuffer in, line;
  in.AddString("\r\nabc\r\nx\ry\nabc");
  ASSERT_TRUE(in.ReadLine(line));
  EXPECT_STREQ("", line.GetBuffer());
  ASSERT_TRUE(in.ReadLine(line));
  EXPECT_STREQ("abc", line.GetBuffer());
  // Only a carriage return right before the line feed goes.
  ASSERT_TRUE(in.ReadLine(line));
  EXPECT_STREQ("x\ry", line.GetBuffer());
  // No line feed: nothing changes, neither the queue nor the target.
  EXPECT_FALSE(in.ReadLine(line));
  EXPECT_STREQ("x\ry", line.GetBuffer());
  EXPECT_EQ("abc", std::string(in.GetBuffer(), in.Length()));
  in.AddString("def\n");
  ASSERT_TRUE(in.ReadLine(line));
  EXPECT_STREQ("abcdef", line.GetBuffer());
  EXPECT_EQ(0, in.Length());
}

TEST(BufferTest, LongLineReplacesShorterOneInTarget) {
  OVKBuffer in, line;
  std::string big(2000, 'q');
  in.AddString((big + "\nhi\n").c_str());
  ASSERT_TRUE(in.ReadLine(line));
  EXPECT_EQ(big, line.GetBuffer());
  ASSERT_TRUE(in.ReadLine(line));
  EXPECT_STREQ("hi", line.GetBuffer());
  EXPECT_EQ(-1, in.FindLineFeed());
}
