#include "core/log_text.h"

#include <gtest/gtest.h>

TEST(LogText, ControlBytesAreShownAsHex) {
  EXPECT_EQ(LogSafe("plain text ~!").Str(), "plain text ~!");
  EXPECT_EQ(LogSafe("/x\nConsole: forged").Str(), "/x\\x0aConsole: forged");
  EXPECT_EQ(LogSafe("a\rb\tc\x1b[2Jd\x7f" "e").Str(),
            "a\\x0db\\x09c\\x1b[2Jd\\x7fe");
  EXPECT_EQ(LogSafe(std::string("a\0b", 3)).Str(), "a\\x00b");
  // Bytes above 0x7f are not control bytes of any terminal's ASCII.
  EXPECT_EQ(LogSafe("caf\xc3\xa9").Str(), "caf\xc3\xa9");
  EXPECT_EQ(LogSafe("\x1f \x20").Str(), "\\x1f  ");
}

TEST(LogText, PasswordsInCommandLinesAreMasked) {
  EXPECT_EQ(LogCommandLine("&m secret arm").Str(), "&m *** arm");
  EXPECT_EQ(LogCommandLine("status  &P  pin\tarm &M x").Str(),
            "status  &P  ***\\x09arm &M ***");
  EXPECT_EQ(LogCommandLine("&p").Str(), "&p");
  // Decided on the words as typed: a password that looks like &m hides
  // the word after it too, which errs on the safe side.
  EXPECT_EQ(LogCommandLine("&p &m arm").Str(), "&p *** ***");
  EXPECT_EQ(LogCommandLine(" &mx secret &pm y").Str(), " &mx secret &pm y");
  // The mask covers a password holding control bytes whole.
  EXPECT_EQ(LogCommandLine("&m a\x1b" "b arm\x01").Str(), "&m *** arm\\x01");
  EXPECT_EQ(LogCommandLine("").Str(), "");
}

TEST(LogText, CommandWordsFollowTheSameRule) {
  ScriptVector words = SplitWords("say &m secret x\x1b");
  EXPECT_EQ(LogCommandWord(words, 0).Str(), "say");
  EXPECT_EQ(LogCommandWord(words, 1).Str(), "&m");
  EXPECT_EQ(LogCommandWord(words, 2).Str(), "***");
  EXPECT_EQ(LogCommandWord(words, 3).Str(), "x\\x1b");
  EXPECT_EQ(LogCommandWord(words, 4).Str(), "");
}
