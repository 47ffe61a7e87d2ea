#include "actions/notifications.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/child_process.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "sms/sms_send.h"
#include "subst/substitution.h"

namespace {

using Lines = std::vector<std::string>;

long FixedClock() { return 1700000123; }

std::string OutName(long counter) {
  return "HOVANTRA_OUTG." + std::to_string(getpid()) + ".1700000123." +
         std::to_string(counter);
}

class NotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    SetSmsClock(FixedClock);
    mkdir(Dir("out").c_str(), 0755);
    mkdir(Dir("comp").c_str(), 0755);
  }
  void TearDown() override { ResetProcessState(); }
  std::string Dir(const std::string &name) { return log_.Dir().File(name); }
  void Configure(const std::string &sections) {
    std::string ini = "[sms]\noutgoing = " + Dir("out") +
                      "\ncomposing = " + Dir("comp") + "\n" + sections;
    log_.Dir().Write("test.ini", ini);
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("test.ini")));
    log_.Clear();
  }
  std::string Out(long counter) {
    return log_.Dir().Read("out/" + OutName(counter));
  }
  bool Exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
  }

  TestLog log_;
};

TEST_F(NotificationsTest, OneMessagePerPhoneInListOrder) {
  Configure(
      "[notification alarm]\n"
      "phones = +100\t+200\n"
      "message = \tAlarm in %1% (%0%, all: %*%)  \n");
  SendNotification("alarm kitchen  hall");
  EXPECT_EQ(Out(123),
            "To: +100\n\nAlarm in kitchen (alarm, all: kitchen hall)");
  EXPECT_EQ(Out(246),
            "To: +200\n\nAlarm in kitchen (alarm, all: kitchen hall)");
  EXPECT_EQ(
      log_.Lines(),
      (Lines{"Sending sms " + OutName(123) +
                 " to [+100]: [Alarm in kitchen (alarm, all: kitchen hall)]",
             "Sending sms " + OutName(246) +
                 " to [+200]: [Alarm in kitchen (alarm, all: kitchen hall)]"}));
}

TEST_F(NotificationsTest, IncompleteSectionsAreReportedAndSendNothing) {
  Configure(
      "[notification nophones]\nmessage = hi\n"
      "[notification nomessage]\nphones = +1\n"
      "[notification blankphones]\nphones =\n+\nmessage = hi\n"
      "[notification blank]\nphones = +1\nmessage = %2% \n");
  SendNotification("nophones");
  SendNotification("nomessage");
  SendNotification("missing arg");
  SendNotification("blank \t only");
  EXPECT_EQ(log_.Lines(),
            (Lines{"Phones not defined for notification ``nophones''",
                   "No message defined for notification ``nomessage''",
                   "Phones not defined for notification ``missing''",
                   "Empty message for notification [blank \t only]"}));
  // A phones value of white space only (a continuation line here) is
  // present but lists nobody.
  log_.Clear();
  SendNotification("blankphones");
  EXPECT_EQ(log_.Lines(),
            (Lines{"Empty phones list for notification ``blankphones''"}));
  EXPECT_FALSE(Exists(Dir("out") + "/" + OutName(123)));
}

TEST_F(NotificationsTest, FailedQueuingWarnsAndGoesOnWithTheNextPhone) {
  Configure("[notification n]\nphones = +1 +2\nmessage = text\n");
  rmdir(Dir("out").c_str());
  SendNotification("n");
  Lines lines = log_.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], "Warning: failed to send SMS to ``+1''");
  EXPECT_EQ(lines[3], "Sending sms " + OutName(246) + " to [+2]: [text]");
  EXPECT_EQ(lines[5], "Warning: failed to send SMS to ``+2''");
}

TEST_F(NotificationsTest, EventCommandIsExpandedLoggedAndRun) {
  Configure("");
  std::string target = Dir("ran");
  RunEventCommand("echo %0% %1% >" + target, SplitWords("door_open back"));
  std::string expected = "echo door_open back >" + target;
  ASSERT_FALSE(log_.Lines().empty());
  EXPECT_EQ(log_.Lines()[0],
            "Executing event-associated command: [" + expected + "]");
  // The command runs detached; wait for the child to report, with a deadline.
  bool done = false;
  for (int i = 0; i < 500 && !done; i++) {
    done = log_.Contains("Command completed, code == 0");
    if (!done) usleep(10000);
  }
  ASSERT_TRUE(done);
  while (waitpid(-1, nullptr, 0) > 0) {
  }
  EXPECT_EQ(log_.Dir().Read("ran"), "door_open back\n");
}

}  // namespace
