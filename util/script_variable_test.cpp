#include "util/script_variable.h"

#include <gtest/gtest.h>

TEST(ScriptVariable, AbsentDiffersFromEmpty) {
  ScriptVariable absent = ScriptVariable::Absent();
  ScriptVariable empty("");
  EXPECT_TRUE(absent.IsAbsent());
  EXPECT_FALSE(empty.IsAbsent());
  EXPECT_EQ(absent.Length(), 0u);
  EXPECT_STREQ(absent.c_str(), "");
  EXPECT_NE(absent, empty);
  EXPECT_TRUE(ScriptVariable(static_cast<const char *>(nullptr)).IsAbsent());
  long v;
  EXPECT_FALSE(absent.GetLong(v));
  EXPECT_THROW(absent.GetLong(), ScriptVariable::BadNumber);
  // Comparison with an absent side gives 0, equality stays exact.
  EXPECT_EQ(absent.Compare("x"), 0);
  EXPECT_FALSE(absent == "x");
}

TEST(ScriptVariable, NumbersMustBeConsumedWhole) {
  long v = 0;
  EXPECT_TRUE(ScriptVariable("12").GetLong(v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(ScriptVariable(" 12").GetLong(v));
  EXPECT_FALSE(ScriptVariable("12 ").GetLong(v));
  EXPECT_FALSE(ScriptVariable("").GetLong(v));
  EXPECT_FALSE(ScriptVariable("12x").GetLong(v));
  EXPECT_TRUE(ScriptVariable("-7").GetLong(v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(ScriptVariable("0x10").GetLong(v, 0));
  EXPECT_EQ(v, 16);
  EXPECT_TRUE(ScriptVariable("010").GetLong(v, 0));
  EXPECT_EQ(v, 8);
  EXPECT_TRUE(ScriptVariable("1a2B").GetLong(v, 16));
  EXPECT_EQ(v, 0x1a2b);
  int i;
  EXPECT_FALSE(ScriptVariable("99999999999").GetInt(i));
  double d;
  EXPECT_TRUE(ScriptVariable("2.5").GetDouble(d));
  EXPECT_DOUBLE_EQ(d, 2.5);
  EXPECT_THROW(ScriptVariable("x").GetDouble(), ScriptVariable::BadNumber);
  long long ll;
  EXPECT_TRUE(ScriptVariable("12345678901234").GetLongLong(ll));
  EXPECT_EQ(ll, 12345678901234LL);
}

TEST(ScriptVariable, EditingAndSearching) {
  ScriptVariable s("  Mixed Case\t\n");
  s.Trim();
  EXPECT_EQ(s, "Mixed Case");
  EXPECT_EQ(ScriptVariable(s).Toupper(), "MIXED CASE");
  EXPECT_EQ(ScriptVariable(s).Tolower(), "mixed case");
  EXPECT_TRUE(s.HasPrefix("Mix"));
  EXPECT_FALSE(s.HasPrefix("mix"));
  EXPECT_TRUE(s.HasSuffix("Case"));
  EXPECT_EQ(s.Find("Case"), 6);
  EXPECT_EQ(s.Find("nope"), -1);
  EXPECT_EQ(s.Range(6), "Case");
  EXPECT_EQ(s.Range(0, 3), "Mix");
  EXPECT_EQ(s.Range(99), "");
  EXPECT_EQ(ScriptVariable("xxaxx").Trim("x"), "a");
  EXPECT_EQ(ScriptVariable("xxx").Trim("x"), "");
  ScriptVariable a = ScriptVariable::Absent();
  a += 'c';
  EXPECT_FALSE(a.IsAbsent());
  EXPECT_EQ(a + "d", "cd");
  EXPECT_EQ("b" + a, "bc");
  EXPECT_EQ(ScriptFormat("%d:%s", 5, "x"), "5:x");
  EXPECT_GT(ScriptVariable("\xe9").Compare("a"), 0);
}

TEST(Split, WordsIgnoreRunsOfDelimiters) {
  ScriptVector w = SplitWords("   arm \t\r\n  now   ");
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], "arm");
  EXPECT_EQ(w[1], "now");
  EXPECT_TRUE(SplitWords(" \t ").empty());
  EXPECT_TRUE(SplitWords("").empty());
  EXPECT_TRUE(SplitWords(ScriptVariable::Absent()).empty());
  ScriptVector whole = SplitWords(" a b ", "");
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0], " a b ");
}

TEST(Split, TokensKeepEmptyItems) {
  ScriptVector t = SplitTokens("one,,two", ",");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0], "one");
  EXPECT_EQ(t[1], "");
  EXPECT_EQ(t[2], "two");
  ScriptVector trailing = SplitTokens("a,", ",");
  ASSERT_EQ(trailing.size(), 2u);
  EXPECT_EQ(trailing[1], "");
  ScriptVector trimmed = SplitTokens(" a : b ", ":", " ");
  ASSERT_EQ(trimmed.size(), 2u);
  EXPECT_EQ(trimmed[0], "a");
  EXPECT_EQ(trimmed[1], "b");
  EXPECT_EQ(SplitTokens("", ",").size(), 1u);
  EXPECT_TRUE(SplitTokens(ScriptVariable::Absent(), ",").empty());
  EXPECT_EQ(JoinWords(SplitWords("x  y   z"), 1), "y z");
}
