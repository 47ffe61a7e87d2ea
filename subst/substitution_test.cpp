#include "subst/substitution.h"

#include <gtest/gtest.h>

namespace {

// Echoes its parameters as "[a|b|c]" so the split is visible.
class Echo : public ScriptSubstitutionPrefixRequest {
 public:
  Echo() : ScriptSubstitutionPrefixRequest("line", ':') {}
  ScriptVariable HandleRequest(const ScriptVector &params) override {
    return "[" + JoinWords(params, 0, "|") + "]";
  }
};

class SubstitutionTest : public ::testing::Test {
 protected:
  SubstitutionTest() {
    engine.AddVariable(new ScriptSubstitutionConst("sysname", "box"));
    engine.AddVariable(new ScriptSubstitutionConst("pct", "%sysname%"));
  }
  ScriptVariable Run(const char *text) { return engine.Process(text); }
  ScriptSubstitution engine;
};

TEST_F(SubstitutionTest, DelimiterRules) {
  EXPECT_EQ(Run("100%% sure"), "100% sure");
  EXPECT_EQ(Run("done 50% and more"), "done 50");
  EXPECT_EQ(Run("a%b\nc"), "ac");
  EXPECT_EQ(Run("x%unknownname%y"), "xy");
  EXPECT_EQ(Run("on %sysname%."), "on box.");
  EXPECT_EQ(Run("%sysname%%sysname%"), "boxbox");
  EXPECT_EQ(Run("%%%sysname%%%"), "%box%");
  EXPECT_EQ(Run("trailing %"), "trailing ");
  EXPECT_EQ(Run(""), "");
  EXPECT_EQ(Run("no reference at all"), "no reference at all");
  // Names are exact: no trimming, no case folding.
  EXPECT_EQ(Run("[% sysname%][%SYSNAME%]"), "[][]");
}

TEST_F(SubstitutionTest, ValuesAreNotScannedAgain) {
  EXPECT_EQ(Run("%pct%"), "%sysname%");
}

TEST_F(SubstitutionTest, AbsentInputGivesAbsent) {
  EXPECT_TRUE(engine.Process(ScriptVariable::Absent()).IsAbsent());
  EXPECT_FALSE(engine.Process("").IsAbsent());
}

TEST_F(SubstitutionTest, NewestVariableWinsAndEmptyHidesOlder) {
  engine.AddVariable(new ScriptSubstitutionConst("sysname", "newer"));
  EXPECT_EQ(Run("%sysname%"), "newer");
  engine.AddVariable(new ScriptSubstitutionConst("sysname", ""));
  EXPECT_EQ(Run("<%sysname%>"), "<>");
}

TEST_F(SubstitutionTest, ScrVarReadsAtLookupTime) {
  ScriptVariable owned = "one";
  engine.AddVariable(new ScriptSubstitutionScrVar("v", owned));
  EXPECT_EQ(Run("%v%"), "one");
  owned = "two";
  EXPECT_EQ(Run("%v%"), "two");
}

TEST_F(SubstitutionTest, PrefixRequestSplitsParameters) {
  engine.AddVariable(new Echo);
  EXPECT_EQ(Run("%line:pump:ON:OFF%"), "[pump|ON|OFF]");
  EXPECT_EQ(Run("%line:pump%"), "[pump]");
  // Whatever follows the prefix is skipped, and empty items are kept.
  EXPECT_EQ(Run("%lines%"), "[]");
  EXPECT_EQ(Run("%line/a::b:%"), "[a||b|]");
  EXPECT_EQ(Run("%lin%"), "");
}

TEST_F(SubstitutionTest, PrefixRequestLeavesItsBareNameToOthers) {
  // The plain variable is older, so the prefix one is asked first.
  engine.AddVariable(new ScriptSubstitutionConst("line", "plain"));
  engine.AddVariable(new Echo);
  EXPECT_EQ(Run("%line%"), "plain");
}

TEST_F(SubstitutionTest, ArgumentList) {
  ScriptVector words = {"arm", "now", "please"};
  auto run = [&](const char *text, int start, int count) {
    return engine.Process(text, words, start, count);
  };
  EXPECT_EQ(run("%0%|%1%|%*%|%5%|%sysname%|%x%", 0, -1),
            "arm|now|now please||box|");
  EXPECT_EQ(run("%0%|%2%|%*%", 0, 2), "arm||now");
  EXPECT_EQ(run("%0%|%1%|%*%", 1, -1), "now|please|please");
  EXPECT_EQ(run("%0%|%1%|%*%", 1, 99), "now|please|please");
  EXPECT_EQ(run("<%0%|%*%>", 3, -1), "<|>");
  EXPECT_EQ(run("%00%%01%", 0, -1), "armnow");
  EXPECT_EQ(run("[%99999999999999999999%]", 0, -1), "[]");
}

TEST_F(SubstitutionTest, ArgumentsAreAskedBeforeEngineVariables) {
  engine.AddVariable(new ScriptSubstitutionConst("1", "engine"));
  engine.AddVariable(new ScriptSubstitutionConst("*", "engine"));
  ScriptVector words = {"only"};
  EXPECT_EQ(engine.Process("[%1%][%*%]", words, 0, -1), "[][]");
  EXPECT_EQ(Run("[%1%][%*%]"), "[engine][engine]");
}

TEST_F(SubstitutionTest, Dictionary) {
  ScriptVector none;
  ScriptVector pairs = {"newstate", "security.armed", "t", "20", "t", "99"};
  EXPECT_EQ(engine.ProcessDict("%newstate%/%1%/%*%/%t%/%sysname%", none, pairs),
            "security.armed///20/box");
}

TEST(MainSubstitutionTest, StartsEmptyAndResets) {
  ResetMainSubstitution();
  EXPECT_EQ(MainSubstitution().Process("a%sysname%b"), "ab");
  MainSubstitution().AddVariable(new ScriptSubstitutionConst("sysname", "s"));
  EXPECT_EQ(MainSubstitution().Process("a%sysname%b"), "asb");
  ResetMainSubstitution();
  EXPECT_EQ(MainSubstitution().Process("a%sysname%b"), "ab");
}

TEST(OtherDelimiterTest, UsesItsOwnDelimiter) {
  ScriptSubstitution engine('$');
  engine.AddVariable(new ScriptSubstitutionConst("x", "1"));
  EXPECT_EQ(engine.Process("%x% $x$ $$"), "%x% 1 $");
}

}  // namespace
