#include "sms/smscmd_poller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sms/sms_message.h"
#include "sms/sms_test_fixture.h"
#include "sms/sms_text.h"

namespace {

using Lines = std::vector<std::string>;

struct Call {
  std::string caller, line;
};
std::vector<Call> calls;
int reply_code = 0;

int FakeCommand(const ScriptVariable &caller, const ScriptVariable &line,
                ScriptVariable &response) {
  calls.push_back({caller.Str(), line.Str()});
  response = "re: " + line;
  return reply_code;
}

class SmscmdPollerTest : public SpoolTest {
 protected:
  void SetUp() override {
    SpoolTest::SetUp();
    calls.clear();
    reply_code = 0;
  }
  void Scan() {
    SmscmdPoller poller(&selector_, 1000, FakeCommand);
    poller.ScanOnce();
  }
  OVKEventSelector selector_;
};

TEST(SmsText, Ucs2PairsHighByteFirst) {
  EXPECT_EQ(DecodeSmsBody(std::string("\x00H\x00i\x04\x1f", 6), true), "Hi?");
  EXPECT_EQ(DecodeSmsBody(std::string("\x00\x09", 2), true), " ");
  // A last odd byte is dropped; a zero high byte with a control low byte
  // is not printable.
  EXPECT_EQ(DecodeSmsBody(std::string("\x00" "a\x00\x01\x00", 5), true), "a?");
  EXPECT_EQ(DecodeSmsBody(std::string("\x00\x7f\x00\x0d", 4), true), "? ");
}

TEST(SmsText, PlainBytesPrintableWhiteOrQuestionMark) {
  EXPECT_EQ(DecodeSmsBody("a\tb", false), "a b");
  EXPECT_EQ(DecodeSmsBody("\xe9", false), "?");
  EXPECT_EQ(DecodeSmsBody(std::string("x\n\r\v\f\0~\x7f", 8), false),
            "x    ?~?");
}

TEST(SmsText, AlphabetHeaderIsTrimmedButExact) {
  std::string ucs2_body("\n\x00O\x00K", 5);
  auto text = [&](const std::string &headers) {
    SmsMessage m;
    std::string bytes = headers + ucs2_body;
    m.Feed(bytes.data(), bytes.size());
    return SmsCommandText(m);
  };
  EXPECT_EQ(text("Alphabet: UCS2\n"), "OK");
  EXPECT_EQ(text("Alphabet:  UCS2 \r\n"), "OK");
  EXPECT_EQ(text("Alphabet:UCS2\n"), "OK");
  EXPECT_EQ(text("Alphabet: ucs2\n"), "?O?K");
  EXPECT_EQ(text(""), "?O?K");
}

TEST_F(SmscmdPollerTest, AcceptsOnlyUnlockedElevenCharacterGsmNames) {
  Put("in", "GSM1.ab3XyZ", "From: +100\n\nstatus");
  Put("in", "GSM1.ab3XyZ1", "From: +101\n\ntoo long");
  Put("in", "GSM2.ab3XyZ", "From: +102\n\nwrong prefix");
  Put("in", "GSM1.locked", "From: +103\n\nlater");
  Put("in", "GSM1.locked.LOCK", "");
  Scan();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].caller, "+100");
  EXPECT_EQ(calls[0].line, "status");
  EXPECT_EQ(List("in"), (Lines{"GSM1.ab3XyZ1", "GSM1.locked",
                               "GSM1.locked.LOCK", "GSM2.ab3XyZ"}));
  EXPECT_EQ(List("done"), (Lines{"GSM1.ab3XyZ"}));
  EXPECT_EQ(Get("done", "GSM1.ab3XyZ"), "From: +100\n\nstatus");
  EXPECT_TRUE(List("comp").empty());
  EXPECT_TRUE(log_.Contains("File GSM1.locked locked, skipping"));
  EXPECT_TRUE(log_.Contains("Message from [+100] contained: ``status''"));
  EXPECT_TRUE(List("out").empty());  // code 0: no reply

  // Once the gateway drops the lock, the next scan takes the file.
  unlink(Path("in", "GSM1.locked.LOCK").c_str());
  Scan();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].line, "later");
  EXPECT_TRUE(Exists("done", "GSM1.locked"));
}

TEST_F(SmscmdPollerTest, RepliesOnlyWhenAskedTo) {
  Put("in", "GSM1.000001", "From: +100\n\nquiet");
  reply_code = 1;
  Scan();
  EXPECT_TRUE(List("out").empty());

  Put("in", "GSM1.000002", "From: +100\nAlphabet: UCS2\n\n" +
                               std::string("\x00h\x00" "e\x00l\x00p", 8));
  reply_code = 2;
  Scan();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].line, "help");
  EXPECT_EQ(List("out"), (Lines{OutName(123)}));
  EXPECT_EQ(Get("out", OutName(123)), "To: +100\n\nre: help");
  EXPECT_EQ(List("done"), (Lines{"GSM1.000001", "GSM1.000002"}));
}

TEST_F(SmscmdPollerTest, ReplyThatCannotBeQueuedIsLogged) {
  rmdir(Dir("out").c_str());
  Put("in", "GSM1.000003", "From: +5\n\nping");
  reply_code = 2;
  Scan();
  Lines lines = log_.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "Couldn't respond, sorry...");
  EXPECT_TRUE(Exists("done", "GSM1.000003"));
}

TEST_F(SmscmdPollerTest, MessageWithoutFromIsAnUntrustedCommand) {
  Put("in", "GSM1.nofrom", "X: y\n\nhelp\tme\xe9");
  Scan();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].caller, "");
  EXPECT_EQ(calls[0].line, "help me?");
  EXPECT_EQ(log_.Lines(),
            (Lines{"SMS " + Path("comp", "GSM1.nofrom") +
                       " contained no From: field, will process as from "
                       "hostile world",
                   "Message from [] contained: ``help me?''"}));
}

TEST_F(SmscmdPollerTest, SenderNamedTrustedIsAnUntrustedCaller) {
  Put("in", "GSM1.spoof1", "From: trusted\n\n&m secret arm");
  Put("in", "GSM1.spoof2", "From: Trusted\n\nstatus");
  reply_code = 2;
  Scan();
  ASSERT_EQ(calls.size(), 2u);
  for (const Call &call : calls) {
    EXPECT_EQ(call.caller, call.line == "status" ? "Trusted" : "") << call.line;
  }
  // Handled and moved on as any other; the reply goes to the sender.
  EXPECT_EQ(List("done"), (Lines{"GSM1.spoof1", "GSM1.spoof2"}));
  std::vector<std::string> sent;
  for (const std::string &name : List("out")) sent.push_back(Get("out", name));
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (Lines{"To: Trusted\n\nre: status",
                         "To: trusted\n\nre: &m secret arm"}));
  EXPECT_TRUE(log_.Contains("Message from [trusted] contained: ``&m *** arm''"));
}

TEST_F(SmscmdPollerTest, LoggedHeadersShowControlBytesAsHex) {
  Put("in", "GSM1.ctrl01", "From: +1\x1b[2J\r\n\nstatus");
  Put("failed", "HOVANTRA_OUTG.9.9.9",
      "To: +2\x07\nFail_reason: bad\rnews\n\nx");
  Scan();
  EXPECT_TRUE(log_.Contains("Message from [+1\\x1b[2J\\x0d] contained: ``status''"));
  EXPECT_TRUE(log_.Contains("Found failed sms [" + Path("comp", "HOVANTRA_OUTG.9.9.9") +
                            "], to +2\\x07, date unknown, reason bad\\x0dnews, att. 1"));
}

TEST_F(SmscmdPollerTest, FailedMessagesAreResentWithTheirAttemptCount) {
  Put("failed", "HOVANTRA_OUTG.1.2.3",
      "To: +100\nFailed: 2024-01-02 03:04:05\nFail_reason: timeout\n\nfirst");
  Put("failed", "HOVANTRA_OUTG.1.2.4", "To: +200\nAttempt: 5\n\nfifth");
  Put("failed", "HOVANTRA_OUTG.1.2.5", "To: +300\nAttempt: 6\n\nsixth");
  Put("failed", "HOVANTRA_OUTG.1.2.6", "To: +400\nAttempt: x\n\nbad count");
  Put("failed", "HOVANTRA_OUTG.1.2.7", "Attempt: 2\n\nno recipient");
  Put("failed", "HOVANTRA_OUTG.1.2.8", "To: +500\n\nlocked");
  Put("failed", "HOVANTRA_OUTG.1.2.8.LOCK", "");
  Put("failed", "OTHER.1.2.9", "To: +600\n\nnot ours");
  Scan();

  // Three resends, whatever order the directory gave.
  std::vector<std::string> sent;
  for (const std::string &name : List("out")) sent.push_back(Get("out", name));
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (Lines{"To: +100\nAttempt: 2\n\nfirst",
                         "To: +200\nAttempt: 6\n\nfifth",
                         "To: +400\nAttempt: 2\n\nbad count"}));

  EXPECT_EQ(List("done"),
            (Lines{"HOVANTRA_OUTG.1.2.3", "HOVANTRA_OUTG.1.2.4",
                   "HOVANTRA_OUTG.1.2.5", "HOVANTRA_OUTG.1.2.6",
                   "HOVANTRA_OUTG.1.2.7"}));
  EXPECT_EQ(Get("done", "HOVANTRA_OUTG.1.2.5"), "To: +300\nAttempt: 6\n\nsixth");
  EXPECT_EQ(List("failed"), (Lines{"HOVANTRA_OUTG.1.2.8",
                                   "HOVANTRA_OUTG.1.2.8.LOCK", "OTHER.1.2.9"}));
  EXPECT_TRUE(List("comp").empty());
  EXPECT_TRUE(calls.empty());

  std::string comp = Dir("comp") + "/";
  EXPECT_TRUE(log_.Contains("Found failed sms [" + comp +
                            "HOVANTRA_OUTG.1.2.3], to +100, date 2024-01-02 "
                            "03:04:05, reason timeout, att. 1"));
  EXPECT_TRUE(log_.Contains("Found failed sms [" + comp +
                            "HOVANTRA_OUTG.1.2.5], to +300, date unknown, "
                            "reason unknown, att. 6"));
  EXPECT_TRUE(log_.Contains("Tried too many times, skipping"));
  EXPECT_TRUE(log_.Contains("Found failed sms [" + comp +
                            "HOVANTRA_OUTG.1.2.6], to +400, date unknown, "
                            "reason unknown, att. 1"));
  EXPECT_TRUE(log_.Contains("Found failed sms [" + comp +
                            "HOVANTRA_OUTG.1.2.7] without ``To:'' header, "
                            "skipping"));
  EXPECT_TRUE(log_.Contains("File HOVANTRA_OUTG.1.2.8 locked, skipping"));
}

TEST_F(SmscmdPollerTest, AttemptTakesItsRadixFromThePrefix) {
  Put("failed", "HOVANTRA_OUTG.9.9.9", "To: +1\nAttempt: 0x3\n\nhex");
  Scan();
  EXPECT_EQ(Get("out", OutName(123)), "To: +1\nAttempt: 4\n\nhex");
}

TEST_F(SmscmdPollerTest, RenameFailuresLeaveFilesWhereTheyAre) {
  Put("in", "GSM1.stays1", "From: +1\n\nonce");
  rmdir(Dir("done").c_str());
  Scan();
  // Handled once, then left in composing with a warning.
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_TRUE(Exists("comp", "GSM1.stays1"));
  EXPECT_TRUE(log_.Contains("Warning: couldn't rename ``" +
                            Path("comp", "GSM1.stays1") + "'' to ``" +
                            Path("done", "GSM1.stays1") +
                            "'', ignoring: No such file or directory"));

  Put("in", "GSM1.stays2", "From: +1\n\nnot yet");
  unlink(Path("comp", "GSM1.stays1").c_str());
  rmdir(Dir("comp").c_str());
  log_.Clear();
  Scan();
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_TRUE(Exists("in", "GSM1.stays2"));
  EXPECT_EQ(log_.Lines(),
            (Lines{"Couldn't rename ``" + Path("in", "GSM1.stays2") +
                   "'' to ``" + Path("comp", "GSM1.stays2") +
                   "'', ignoring: No such file or directory"}));
}

TEST_F(SmscmdPollerTest, UnconfiguredOrMissingDirectoriesAreQuiet) {
  ResetConfiguration();
  log_.Dir().Write("bare.ini", "[sms]\noutgoing = " + Dir("out") +
                                   "\ncomposing = " + Dir("comp") + "\n");
  ASSERT_TRUE(LoadConfiguration(log_.Dir().File("bare.ini")));
  Put("in", "GSM1.ignored", "From: +1\n\nx");
  Scan();
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(Exists("in", "GSM1.ignored"));

  LoadSpoolConfig("");
  rmdir(Dir("failed").c_str());
  unlink(Path("in", "GSM1.ignored").c_str());
  rmdir(Dir("in").c_str());
  log_.Clear();
  Scan();
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(SmscmdPollerTest, ExpiryScansAndRearms) {
  Put("in", "GSM1.timer1", "From: +1\n\nvia loop");
  SmscmdPoller poller(&selector_, 1500, FakeCommand);
  poller.TimeoutHandle();
  EXPECT_EQ(calls.size(), 1u);
  long sec, usec;
  OVKCurrentTime(&sec, &usec);
  long due = (poller.ExpirySec() - sec) * 1000000 + (poller.ExpiryUsec() - usec);
  EXPECT_GT(due, 1400000);
  EXPECT_LE(due, 1500000);
}

}  // namespace
