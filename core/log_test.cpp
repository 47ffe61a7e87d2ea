#include "core/log.h"

#include <gtest/gtest.h>

#include <regex>

#include "core/log_test_support.h"

TEST(Log, LinesAreNumberedAndStamped) {
  TestLog log;
  LogMessage("first %d", 1);
  LogMessage("second");
  std::vector<std::string> raw = log.RawLines();
  ASSERT_EQ(raw.size(), 2u);
  std::regex form(
      "^[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  \\[0\\] first 1$");
  EXPECT_TRUE(std::regex_match(raw[0], form)) << raw[0];
  EXPECT_NE(raw[1].find("  [1] second"), std::string::npos) << raw[1];
}

TEST(Log, FloodGuardSilencesAfterFiveHundredLines) {
  TestLog log;
  for (int i = 0; i < 500; i++) LogMessage("line %d", i);
  EXPECT_FALSE(LogSilenced());  // the 500th call still writes its notice
  LogMessage("line %d", 500);
  EXPECT_TRUE(LogSilenced());
  LogMessage("line %d", 501);
  std::vector<std::string> raw = log.RawLines();
  ASSERT_EQ(raw.size(), 501u);
  EXPECT_NE(raw[499].find("[499] line 499"), std::string::npos);
  EXPECT_NE(raw[500].find(" [500] TOO MANY MESSAGES"), std::string::npos);
  LogResume();
  EXPECT_FALSE(LogSilenced());
  LogMessage("back");
  raw = log.RawLines();
  ASSERT_EQ(raw.size(), 503u);
  EXPECT_TRUE(
      std::regex_match(raw[501], std::regex("^.{16}\\.\\.\\.RESUMING$")))
      << raw[501];
  EXPECT_NE(raw[502].find(" [0] back"), std::string::npos);
  // A resume while counting writes nothing and restarts the count.
  LogMessage("one");
  LogResume();
  LogMessage("two");
  raw = log.RawLines();
  ASSERT_EQ(raw.size(), 505u);
  EXPECT_NE(raw[504].find(" [0] two"), std::string::npos);
}

TEST(Log, AppendsToAnExistingFile) {
  TestDir dir;
  dir.Write("a.log", "kept\n");
  ResetLog();
  OpenLogFile(dir.File("a.log").c_str());
  EXPECT_GE(LogFileNumber(), 0);
  LogMessage("added");
  ResetLog();
  std::string text = dir.Read("a.log");
  EXPECT_EQ(text.rfind("kept\n", 0), 0u);
  EXPECT_NE(text.find("[0] added\n"), std::string::npos);
  EXPECT_EQ(LogFileNumber(), -1);
}
