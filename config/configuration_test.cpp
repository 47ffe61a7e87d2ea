#include "config/configuration.h"

#include <gtest/gtest.h>

#include "core/log_test_support.h"
#include "core/process_state.h"

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void Load(const std::string &text) {
    log_.Dir().Write("h.ini", text);
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("h.ini")));
  }
  void TearDown() override { ResetProcessState(); }
  TestLog log_;
};

}  // namespace

TEST_F(ConfigTest, DefaultsWithoutConfiguration) {
  ResetConfiguration();
  EXPECT_EQ(GeneralName(), "unnamed_hovantra");
  EXPECT_EQ(GeneralLog(), "hovantra.log");
  EXPECT_EQ(GeneralStateFile(), "hovantra.state");
  EXPECT_EQ(GeneralDefaultState(), "#nostate#");
  EXPECT_EQ(GeneralWatchdog(), 30);
  EXPECT_TRUE(GeneralPassword().IsAbsent());
  EXPECT_FALSE(VariableEnabled("x"));
}

TEST_F(ConfigTest, DefaultsOfAnEmptyGeneralSection) {
  Load("[general]\nwatchdog = 10s\n");
  EXPECT_EQ(GeneralName(), "unnamed_hovantra");
  EXPECT_EQ(GeneralWatchdog(), 30);
  EXPECT_EQ(WebserverIp(), "127.0.0.1");
  EXPECT_EQ(WebserverPort(), 7281);
  EXPECT_EQ(WebserverRealm(), "127.0.0.1");
  EXPECT_EQ(WebserverP404(), "Not found");
  EXPECT_EQ(ConsolePort(), 7280);
  EXPECT_EQ(ConsoleTimeout(), 60);
  EXPECT_EQ(ConsoleTrusted(), "");
  EXPECT_EQ(ConsoleGreeting(true), "");
  EXPECT_TRUE(SmsIncoming().IsAbsent());
  EXPECT_TRUE(SmsFailed().IsAbsent());
  EXPECT_EQ(SmsOutgoing(), "/var/sms/out");
  EXPECT_EQ(SmsComposing(), "/var/hovantra/sms");
  EXPECT_EQ(SmsProceeded(), "/var/hovantra/sms_done");
  EXPECT_EQ(CommandArgs("x"), -1);
  EXPECT_EQ(EventFsm("x"), "");
  EXPECT_EQ(WebpageKey("/", "mimetype"), "text/html");
}

TEST_F(ConfigTest, LoadFailureLogsTwoLines) {
  log_.Dir().Write("bad.ini", "[general]\n[x y z]\n");
  std::string path = log_.Dir().File("bad.ini");
  EXPECT_FALSE(LoadConfiguration(path));
  EXPECT_TRUE(log_.Contains(path + ":2: invalid header syntax"));
  EXPECT_TRUE(log_.Contains(path + ": error loading configuration file"));
  EXPECT_FALSE(LoadConfiguration("/nonexistent.ini"));
  EXPECT_TRUE(log_.Contains("/nonexistent.ini:-1: couldn't open the file"));
}

TEST_F(ConfigTest, SingleInstanceSectionsReadTheFirst) {
  Load(
      "[console one]\nport = 1\ngreeting = hello\ngreeting:trusted = welcome\n"
      "[console two]\nport = 2\n[general]\nwatchdog = 0\n");
  EXPECT_EQ(ConsolePort(), 1);
  EXPECT_EQ(ConsoleGreeting(true), "welcome");
  EXPECT_EQ(ConsoleGreeting(false), "hello");
  EXPECT_EQ(GeneralWatchdog(), 0);
}

TEST_F(ConfigTest, YesNoNormalisations) {
  Load(
      "[variable a]\nenable =  Yes\t\n[variable b]\nenable = true\n"
      "[variable c]\nenable = yes\ndefault = 21\n"
      "[command arm]\nunpriv = YES\n[command x]\nunpriv = yes please\n"
      "[webpage /]\npublic = Yes\n");
  EXPECT_TRUE(VariableEnabled("a"));
  EXPECT_FALSE(VariableEnabled("b"));
  EXPECT_EQ(VariableDefault("c"), "21");
  EXPECT_EQ(VariableDefault("a"), "");
  EXPECT_TRUE(CommandUnpriv("arm"));
  EXPECT_FALSE(CommandUnpriv("x"));
  EXPECT_TRUE(WebpagePublic("/"));
  EXPECT_TRUE(ConfigIsYes(" YeS\n"));
  EXPECT_FALSE(ConfigIsYes(ScriptVariable::Absent()));
}

TEST_F(ConfigTest, CommandSectionReadsEachKeyOfOneSection) {
  Load(
      "[command a]\nresponse = hi\nargs = 2\nunpriv = Yes\nevent =\n"
      "[command b]\nargs = two\nalias_for = a\n");
  CommandSection a("a");
  EXPECT_EQ(a.Key("response"), "hi");
  EXPECT_TRUE(a.Key("event").IsAbsent());  // empty counts as missing
  EXPECT_TRUE(a.Key("action").IsAbsent());
  EXPECT_EQ(a.Args(), 2);
  EXPECT_TRUE(a.Unpriv());
  CommandSection b("b");
  EXPECT_EQ(b.Key("alias_for"), "a");
  EXPECT_TRUE(b.Key("response").IsAbsent());
  EXPECT_EQ(b.Args(), -1);
  EXPECT_FALSE(b.Unpriv());
  CommandSection missing("c");
  EXPECT_TRUE(missing.Key("response").IsAbsent());
  EXPECT_EQ(missing.Args(), -1);
  EXPECT_FALSE(missing.Unpriv());
  ResetConfiguration();
  CommandSection none("a");
  EXPECT_TRUE(none.Key("response").IsAbsent());
  EXPECT_EQ(none.Args(), -1);
}

TEST_F(ConfigTest, QualifiedEventAndDeviceKeys) {
  Load(
      "[event door]\nfsm = security\ntransit = plain\ntransit:armed = qual\n"
      "[device 1a2b]\noutput:0 =  siren \noutput_sync = yes\ninput_on:3 =\n");
  EXPECT_EQ(EventKey("door", "transit", "armed"), "qual");
  EXPECT_EQ(EventKey("door", "transit", "disarmed"), "plain");
  EXPECT_TRUE(EventKey("door", "action", "armed").IsAbsent());
  EXPECT_EQ(DeviceKey("1a2b", "output", 0), "siren");
  EXPECT_TRUE(DeviceKey("1a2b", "output", 1).IsAbsent());
  EXPECT_EQ(DeviceKey("1a2b", "output_sync", 7), "yes");
  EXPECT_TRUE(DeviceKey("1a2b", "input_on", 3).IsAbsent());
}

TEST_F(ConfigTest, UserList) {
  Load("[webserver]\nusers = alice : secret , bob:pw:extra\n+ carol:x\n");
  EXPECT_EQ(WebserverUserPassword("alice"), "secret");
  EXPECT_EQ(WebserverUserPassword("bob"), "pw");
  EXPECT_EQ(WebserverUserPassword("carol"), "x");
  EXPECT_TRUE(WebserverUserPassword("Alice").IsAbsent());
  EXPECT_TRUE(WebserverUserPassword("dave").IsAbsent());
}

TEST_F(ConfigTest, PageAliases) {
  std::string text;
  // /p0 -> /p1 -> ... -> /p19 (19 redirections) resolves.
  for (int i = 0; i < 19; i++)
    text += "[webpage /p" + std::to_string(i) + "]\nalias_for = /p" +
            std::to_string(i + 1) + "\n";
  text += "[webpage /p19]\ntype = page\ncontent = x\n";
  text += "[webpage /a]\nalias_for = /b\n[webpage /b]\nalias_for = /a\n";
  Load(text);
  EXPECT_EQ(WebpageResolve("/p0"), "/p19");
  log_.Clear();
  EXPECT_TRUE(WebpageResolve("/a").IsAbsent());
  std::vector<std::string> lines = log_.Lines();
  ASSERT_EQ(lines.size(), 1u);
  // The 20th alias_for met is the one of /b (met on its 10th visit).
  EXPECT_EQ(lines[0], "config. err: too many redirections for /a");
  EXPECT_EQ(WebpageResolve("/none"), "/none");
}
