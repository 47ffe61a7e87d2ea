#include <gtest/gtest.h>

#include "tools/check/known_keys.h"
#include "tools/check/text_refs.h"

TEST(NearestName, MisspellingsFindTheirKeyAndStrangersNothing) {
  std::vector<std::string> console = KnownKeys("console");
  EXPECT_EQ(NearestName("prot", console), "port");        // swapped letters
  EXPECT_EQ(NearestName("timout", console), "timeout");   // one left out
  EXPECT_EQ(NearestName("greetings", console), "greeting");
  EXPECT_EQ(NearestName("colour", console), "");
  // A short word is not "near" everything of its length.
  EXPECT_EQ(NearestName("id", KnownKeys("temp_sensor")), "id");
  EXPECT_EQ(NearestName("xy", KnownKeys("temp_sensor")), "");
  EXPECT_EQ(NearestName("evnet", KnownTypes()), "event");
}

TEST(KnownKeys, QualifiersAreThoseTheDaemonReads) {
  Qualifiers q;
  ASSERT_TRUE(KeyQualifiers("event", "transit", &q));
  EXPECT_EQ(q, kStateName);
  ASSERT_TRUE(KeyQualifiers("device", "input_on", &q));
  EXPECT_EQ(q, kInputLine);
  ASSERT_TRUE(KeyQualifiers("state", "transit", &q));
  EXPECT_EQ(q, kPlain);
  EXPECT_FALSE(KeyQualifiers("state", "action", &q));
  EXPECT_FALSE(KeyQualifiers("nosuchtype", "name", &q));
}

TEST(References, PercentPairsAndLiteralPercents) {
  EXPECT_EQ(References("100%% at %state%, %line:door:open:shut%"),
            (std::vector<std::string>{"state", "line:door:open:shut"}));
  EXPECT_EQ(References("%%state%% and 50%"), std::vector<std::string>{});
  EXPECT_EQ(References("%1%%2%"), (std::vector<std::string>{"1", "2"}));
}

TEST(ValueLines, TrimmedNonEmptyLines) {
  EXPECT_EQ(ValueLines("a -> b\n\n  c -> d \r\n"),
            (std::vector<std::string>{"a -> b", "c -> d"}));
  EXPECT_EQ(FirstWord("  door_open front"), "door_open");
  std::string base, qualifier;
  SplitKey("html:head:x", &base, &qualifier);
  EXPECT_EQ(base + "|" + qualifier, "html|head:x");
}
