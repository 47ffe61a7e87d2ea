#include "actions/command_processor.h"

#include <gtest/gtest.h>

#include "actions/actions.h"
#include "actions/command_resolution.h"
#include "config/configuration.h"
#include "core/event_sink.h"
#include "core/test_log.h"
#include "devices/devices.h"
#include "subst/substitution.h"
#include "temp/temp_sensors.h"

namespace {

ScriptVector raised;
void Capture(const ScriptVariable &line) { raised.push_back(line); }

const char kConfig[] =
    "[general]\n"
    "password = gpass\n"
    "[phone +111]\n"
    "password = ppass\n"
    "[phone +222]\n"
    "auth = trusted\n"
    "[command arm]\n"
    "action = @ACT+ armed\n"
    "response = armed(%*%)\n"
    "[command one]\n"
    "args = 1\n"
    "event = ev %0% %1% %2%\n"
    "[command zero]\n"
    "args = 0\n"
    "event = zero [%1%]\n"
    "[command status]\n"
    "args = 5\n"
    "unpriv = Yes\n"
    "response = status(%0%|%1%)\n"
    "[command st]\n"
    "alias_for = Status\n"
    "[command chain1]\n"
    "alias_for = chain2\n"
    "response = first(%0%,%1%)\n"
    "args = 7\n"
    "[command chain2]\n"
    "alias_for = CHAIN3\n"
    "response = second\n"
    "unpriv = yes\n"
    "[command chain3]\n"
    "args = 1\n"
    "event = c3 %1%\n"
    "[command loopa]\n"
    "alias_for = loopb\n"
    "response = never\n"
    "[command loopb]\n"
    "alias_for = loopa\n"
    "[command bad]\n"
    "args = 1\n"
    "action = @BLINK %1%\n"
    "  \n"
    "+not-an-action\n"
    "+  @act+   %0%  \n"
    "[command empty]\n"
    "event = %5%\n"
    "[command rep]\n"
    "alias_for = &R\n"
    "response = R(%0%)\n"
    "[command ans]\n"
    "alias_for = &a\n"
    "[command junk]\n"
    "args = x1\n"
    "event = junk %*%\n";

class CommandTest : public ::testing::Test {
 protected:
  CommandTest() { Setup(kConfig); }
  ~CommandTest() override {
    ResetActions();
    ResetConfiguration();
    SetEventSink(nullptr);
  }
  void Setup(const std::string &ini) {
    raised.clear();
    ResetActions();
    ResetMainSubstitution();
    ResetConfiguration();
    SetEventSink(Capture);
    log.Dir().Write("test.ini", ini);
    ASSERT_TRUE(LoadConfiguration(log.Dir().File("test.ini")));
  }
  int Run(const char *caller, const char *line) {
    response = "left over";
    return ProcessCommand(caller, line, response);
  }
  TestLog log;
  ScriptVariable response;
};

TEST_F(CommandTest, UntrustedLineStopsAtFirstPrivilegedCommand) {
  EXPECT_EQ(Run("", "arm now"), 0);
  EXPECT_EQ(response, "");
  EXPECT_TRUE(raised.empty());
  EXPECT_TRUE(IsReady());
  EXPECT_TRUE(log.Contains("Rejecting command arm(2:@ACT+ armed)/-1..."));
  EXPECT_FALSE(log.Contains("Processing command arm(2:@ACT+ armed)/-1..."));

  // What ran before the rejection stays done, but nothing is sent back.
  EXPECT_EQ(Run("+999", "st zero arm"), 0);
  EXPECT_TRUE(log.Contains("Processing command st(4:)/5..."));
  EXPECT_TRUE(log.Contains("Rejecting command zero(3:zero [%1%])/0..."));
  EXPECT_EQ(response, "status(st|)");
  EXPECT_TRUE(raised.empty());
}

TEST_F(CommandTest, LoggedWordsHidePasswordsAndControlBytes) {
  // "one" takes &m as its argument, so the password is resolved as a
  // command of its own: the log still shows it masked.
  Run("", "one &m gpass arm\x1b[2J");
  EXPECT_TRUE(log.Contains("Rejecting command one(3:ev %0% %1% %2%)/1..."));
  Run("trusted", "one &m gpass arm\x1b[2J");
  EXPECT_TRUE(log.Contains("Processing command ***(0:)/-1..."));
  EXPECT_TRUE(log.Contains("Processing command arm\\x1b[2J(0:)/-1..."));
  Run("trusted", "bad \x7f");
  EXPECT_TRUE(log.Contains("** do_single_action(@BLINK %1%, [bad|\\x7f], 0, 1)"));
  for (const std::string &line : log.RawLines()) {
    EXPECT_EQ(std::string::npos, line.find("gpass")) << line;
    EXPECT_EQ(std::string::npos, line.find('\x1b')) << line;
  }
}

TEST_F(CommandTest, UntrustedUnprivilegedCommandRunsSilently) {
  EXPECT_EQ(Run("", "chain1 door"), 0);
  EXPECT_EQ(raised, ScriptVector({"c3 door"}));
  EXPECT_EQ(response, "first(chain1,door)");
}

struct PasswordCase {
  const char *caller;
  const char *line;
  bool runs;
};

TEST_F(CommandTest, PasswordWordsGrantTrustForTheRestOfTheLine) {
  const PasswordCase cases[] = {
      {"+111", "&p ppass arm", true},
      {"+111", "&P ppass arm", true},
      {"+111", "&p PPASS arm", false},
      {"+111", "&p gpass arm", false},
      {"+111", "&m gpass arm", true},
      {"+111", "&m ppass arm", false},
      {"+222", "&p whatever arm", true},
      {"+222", "&m whatever arm", false},
      {"+999", "&p gpass arm", false},  // a phone without a section
      {"", "&p gpass arm", true},       // untrusted console: general
      {"", "&m gpass arm", true},
      {"", "&p ppass arm", false},
      {"", "&p", false},
      {"trusted", "&p wrong arm", false},  // a failed check drops trust
      {"trusted", "&m gpass arm", true},
      {"+111", "&p ppass &p wrong arm", false},
  };
  for (const PasswordCase &c : cases) {
    SCOPED_TRACE(std::string(c.caller) + ": " + c.line);
    ResetActions();
    raised.clear();
    int code = Run(c.caller, c.line);
    if (c.runs) {
      EXPECT_EQ(code, 1);
      EXPECT_EQ(response, "armed()");
      EXPECT_EQ(raised, ScriptVector({"!activity"}));
    } else {
      EXPECT_EQ(code, 0);
      EXPECT_TRUE(raised.empty());
    }
  }
}

TEST_F(CommandTest, ArgumentCountsDecideWhereTheNextCommandStarts) {
  EXPECT_EQ(Run("trusted", "one a b c"), 1);
  EXPECT_EQ(raised, ScriptVector({"ev one a"}));
  EXPECT_EQ(response, "Unknown cmd b\nUnknown cmd c\n");

  raised.clear();
  EXPECT_EQ(Run("trusted", "one"), 0);  // past the line: empty arguments
  EXPECT_EQ(raised, ScriptVector({"ev one"}));

  raised.clear();
  EXPECT_EQ(Run("trusted", "zero a"), 1);
  EXPECT_EQ(raised, ScriptVector({"zero []"}));
  EXPECT_EQ(response, "Unknown cmd a\n");

  // Without args the command takes the whole rest of the line.
  raised.clear();
  EXPECT_EQ(Run("trusted", "Arm x status  y"), 1);
  EXPECT_EQ(response, "armed(x status y)");
  EXPECT_TRUE(log.Contains("Processing command Arm(2:@ACT+ armed)/-1..."));

  // A malformed args counts as -1.
  raised.clear();
  EXPECT_EQ(Run("trusted", "junk p q"), 0);
  EXPECT_EQ(raised, ScriptVector({"junk p q"}));

  // A response-only command never consumes words, whatever args says.
  EXPECT_EQ(Run("trusted", "status foo"), 1);
  EXPECT_EQ(response, "status(status|)Unknown cmd foo\n");
  EXPECT_TRUE(log.Contains("Processing command status(4:)/5..."));
}

TEST_F(CommandTest, AliasesAreFollowedCaseInsensitively) {
  EXPECT_EQ(Run("trusted", "Status"), 1);
  EXPECT_EQ(response, "status(Status|)");
  EXPECT_EQ(Run("trusted", "ST"), 1);
  EXPECT_EQ(response, "status(ST|)");

  // First response wins; args and event from the last section.
  EXPECT_EQ(Run("trusted", "CHAIN1 p q"), 1);
  EXPECT_EQ(raised, ScriptVector({"c3 p"}));
  EXPECT_EQ(response, "first(CHAIN1,p)Unknown cmd q\n");
  EXPECT_TRUE(log.Contains("Processing command CHAIN1(3:c3 %1%)/1..."));
}

TEST_F(CommandTest, AliasLoopCountsAsUnknown) {
  EXPECT_EQ(Run("trusted", "loopa status"), 1);
  EXPECT_EQ(response, "Unknown cmd loopa\nstatus(status|)");
  EXPECT_TRUE(log.Contains("conf. error: alias_for loop at ``loopa'', giving up"));
  EXPECT_TRUE(log.Contains("Processing command loopa(0:)/-1..."));
}

std::string Chain(int aliases) {
  std::string ini;
  for (int k = 0; k < aliases; k++) {
    ini += "[command c" + std::to_string(k) + "]\nalias_for = c" +
           std::to_string(k + 1) + "\n";
  }
  ini += "[command c" + std::to_string(aliases) + "]\nresponse = end\n";
  return ini;
}

TEST_F(CommandTest, AliasChainLengthIsBounded) {
  Setup(Chain(kMaxAliasSteps));
  EXPECT_EQ(Run("trusted", "c0"), 1);
  EXPECT_EQ(response, "end");
  Setup(Chain(kMaxAliasSteps + 1));
  EXPECT_EQ(Run("trusted", "c0"), 1);
  EXPECT_EQ(response, "Unknown cmd c0\n");
}

TEST_F(CommandTest, BuiltinWords) {
  EXPECT_EQ(Run("trusted", "&a status"), 2);
  EXPECT_EQ(response, "status(status|)");
  EXPECT_EQ(Run("trusted", "status"), 1);
  EXPECT_EQ(Run("trusted", "ans status"), 2);
  EXPECT_EQ(Run("trusted", "&a"), 0);  // nothing to answer with
  EXPECT_EQ(Run("trusted", "&e status foo"), 0);
  EXPECT_EQ(response, "");
  EXPECT_EQ(Run("trusted", "status &E foo"), 1);
  EXPECT_EQ(response, "status(status|)");
  EXPECT_EQ(Run("trusted", "&x &"), 0);
  EXPECT_TRUE(log.Contains("Processing command &e(1:&e)/-1..."));
  EXPECT_TRUE(log.Contains("Processing command &E(1:&e)/-1..."));
}

TEST_F(CommandTest, ReportAndItsAliases) {
  const ScriptVariable report = devices_report_text() + temp_report_text();
  EXPECT_EQ(Run("trusted", "&r status"), 2);
  EXPECT_EQ(response, report + "status(status|)");
  // An alias with a response of its own replaces the report.
  EXPECT_EQ(Run("trusted", "rep x"), 2);
  EXPECT_EQ(response, "R(rep)Unknown cmd x\n");
  // &-words are allowed to anybody, even through an alias.
  EXPECT_EQ(Run("", "rep"), 0);
  EXPECT_TRUE(log.Contains("Processing command rep(1:&r)/-1..."));
}

TEST_F(CommandTest, FailureTexts) {
  EXPECT_EQ(Run("trusted", "foo FOO"), 1);
  EXPECT_EQ(response, "Unknown cmd foo\nUnknown cmd FOO\n");
  EXPECT_TRUE(log.Contains("Processing command foo(0:)/-1..."));

  EXPECT_EQ(Run("trusted", "empty"), 1);
  EXPECT_EQ(response, "Empty event (?!); ignored\n");
  EXPECT_TRUE(raised.empty());

  EXPECT_EQ(Run("trusted", "bad z"), 1);
  EXPECT_EQ(response,
            "Action ``@BLINK z'' failed\nInvalid action ``not-an-action''\n");
  EXPECT_EQ(raised, ScriptVector({"!activity"}));
  EXPECT_FALSE(IsReady());
  EXPECT_TRUE(log.Contains("** do_single_action(@BLINK %1%, [bad|z], 0, 1)"));
  EXPECT_TRUE(log.Contains("** do_single_action(not-an-action, [bad|z], 0, 1)"));
  EXPECT_TRUE(log.Contains("** do_single_action(@act+   %0%, [bad|z], 0, 1)"));
  EXPECT_TRUE(log.Contains("Unknown action [@BLINK z]"));
}

TEST_F(CommandTest, EngineVariablesReachCommandTexts) {
  Setup("[command hello]\nresponse = %who%:%1%:%0%\n");
  MainSubstitution().AddVariable(new ScriptSubstitutionConst("1", "engine"));
  MainSubstitution().AddVariable(new ScriptSubstitutionConst("who", "box"));
  // The argument list hides the engine's variable of the same name.
  EXPECT_EQ(Run("trusted", "hello"), 1);
  EXPECT_EQ(response, "box::hello");
}

TEST_F(CommandTest, EmptyLine) {
  EXPECT_EQ(Run("trusted", " \t\r\n "), 0);
  EXPECT_EQ(response, "");
}

}  // namespace
