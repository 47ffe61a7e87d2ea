#include "sms/sms_send.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "sms/sms_message.h"
#include "sms/spool_test_support.h"

namespace {

using SmsSendTest = SpoolTest;
using Lines = std::vector<std::string>;

TEST_F(SmsSendTest, WritesExactBytesIntoOutgoingOnly) {
  EXPECT_EQ(sms_send("+100", "Hello"), 1);
  EXPECT_EQ(sms_send("+200", ""), 1);
  EXPECT_EQ(List("out"), (Lines{OutName(123), OutName(246)}));
  EXPECT_EQ(Get("out", OutName(123)), "To: +100\n\nHello");
  EXPECT_EQ(Get("out", OutName(246)), "To: +200\n");
  EXPECT_TRUE(List("comp").empty());
  EXPECT_EQ(log_.Lines(),
            (Lines{"Sending sms " + OutName(123) + " to [+100]: [Hello]",
                   "Sending sms " + OutName(246) + " to [+200]: []"}));
}

TEST_F(SmsSendTest, EmptyNumberIsSentButMissingToIsNot) {
  EXPECT_EQ(sms_send("", "x"), 1);
  EXPECT_EQ(Get("out", OutName(123)), "To: \n\nx");

  SmsMessage nowhere;
  nowhere.AppendBody("lost");
  EXPECT_EQ(sms_send_message(nowhere), 0);
  EXPECT_EQ(log_.Lines().back(), "Attempt to sent sms to nowhere");
  // The name counter still moved for the refused message.
  EXPECT_EQ(sms_send("1", "y"), 1);
  EXPECT_TRUE(Exists("out", OutName(369)));
}

TEST_F(SmsSendTest, SendsPreparedMessageWithAllItsHeaders) {
  SmsMessage m;
  m.SetHeader("To", "+7");
  m.SetHeader("Attempt", "2");
  m.AppendBody(std::string("a\0b", 3));
  EXPECT_EQ(sms_send_message(m), 1);
  EXPECT_EQ(Get("out", OutName(123)),
            std::string("To: +7\nAttempt: 2\n\na\0b", 22));
  EXPECT_EQ(log_.Lines().back(),
            "Sending sms " + OutName(123) + " to [+7]: [a?b]");
}

TEST_F(SmsSendTest, UnwritableComposingDirectoryIsReported) {
  rmdir(Dir("comp").c_str());
  EXPECT_EQ(sms_send("+1", "t"), 0);
  EXPECT_EQ(log_.Lines().back(),
            "Couldn't open ``" + Path("comp", OutName(123)) +
                "'' for writing: No such file or directory");
  EXPECT_TRUE(List("out").empty());
}

TEST_F(SmsSendTest, FailedHandoverLeavesTheFileInComposing) {
  rmdir(Dir("out").c_str());
  EXPECT_EQ(sms_send("+1", "t"), 0);
  EXPECT_EQ(log_.Lines().back(),
            "Couldn't rename ``" + Path("comp", OutName(123)) + "'' to ``" +
                Path("out", OutName(123)) + "'': No such file or directory");
  EXPECT_EQ(Get("comp", OutName(123)), "To: +1\n\nt");
}

// A message that cannot be written whole (disk full, file size limit) is
// not handed over truncated.
TEST_F(SmsSendTest, ShortWriteNeverReachesTheGateway) {
  // A long header makes the file, not the log line, exceed the limit.
  SmsMessage m;
  m.SetHeader("To", "+1");
  m.SetHeader("Pad", std::string(8000, 'x'));
  m.AppendBody("short");
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 4096;
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  int sent = sms_send_message(m);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);

  EXPECT_EQ(sent, 0);
  EXPECT_TRUE(List("out").empty());
  EXPECT_TRUE(List("comp").empty());
  EXPECT_EQ(
      log_.Lines().back(),
      "Couldn't write ``" + Path("comp", OutName(123)) + "'': File too large");
}

TEST_F(SmsSendTest, DefaultDirectoriesApplyWithoutSmsSection) {
  ResetConfiguration();
  log_.Dir().Write("empty.ini", "[general]\nname = x\n");
  ASSERT_TRUE(LoadConfiguration(log_.Dir().File("empty.ini")));
  // Nothing may be written outside the test's own directories here, so only
  // the path in the failure line is looked at (the default directory is not
  // expected to be writable by the test).
  if (access("/var/hovantra/sms", F_OK) == 0) GTEST_SKIP();
  EXPECT_EQ(sms_send("+1", "t"), 0);
  EXPECT_EQ(log_.Lines().back(),
            "Couldn't open ``/var/hovantra/sms/" + OutName(123) +
                "'' for writing: No such file or directory");
}

// A name already used in outgoing (the gateway has not yet taken the file)
// or in composing (a failed message being handled) is stepped over.
TEST_F(SmsSendTest, NeverReplacesAWaitingFile) {
  Put("out", OutName(123), "To: 1\n\nwaiting");
  Put("comp", OutName(124), "To: 2\n\nbeing handled");
  EXPECT_EQ(sms_send("+3", "new"), 1);
  EXPECT_EQ(Get("out", OutName(123)), "To: 1\n\nwaiting");
  EXPECT_EQ(Get("comp", OutName(124)), "To: 2\n\nbeing handled");
  EXPECT_EQ(Get("out", OutName(125)), "To: +3\n\nnew");
  EXPECT_EQ(log_.Lines(),
            (Lines{"Sending sms " + OutName(125) + " to [+3]: [new]"}));
  // The counter keeps growing from the name it settled on.
  EXPECT_EQ(sms_send("+4", "next"), 1);
  EXPECT_TRUE(Exists("out", OutName(248)));
}

long RoundSecond() { return 1700000000; }  // time mod 1000 is 0

TEST_F(SmsSendTest, SecondMessageInARoundSecondGetsItsOwnName) {
  SetSmsClock(RoundSecond);
  std::string base =
      "HOVANTRA_OUTG." + std::to_string(getpid()) + ".1700000000.";
  EXPECT_EQ(sms_send("+1", "first"), 1);
  EXPECT_EQ(sms_send("+2", "second"), 1);
  EXPECT_EQ(List("out"), (Lines{base + "0", base + "1"}));
  EXPECT_EQ(Get("out", base + "0"), "To: +1\n\nfirst");
  EXPECT_EQ(Get("out", base + "1"), "To: +2\n\nsecond");
}

}  // namespace
