#include "console/console_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "config/configuration.h"
#include "console/console_server.h"
#include "core/test_log.h"
#include "net/test_loop.h"

namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    StopConsole();
    ResetConfiguration();
  }

  // Loads a configuration whose console listens on an ephemeral port and
  // trusts the given networks; starts the console.
  void Start(const std::string &trusted, const std::string &extra = "") {
    log_.Dir().Write("test.ini",
                     "[console]\n"
                     "port = 0\n"
                     "trusted = " + trusted + "\n"
                     "greeting:trusted = Welcome, operator\n"
                     "+\n"
                     "greeting:untrusted = Hello> \n" +
                         extra +
                         "[command status]\n"
                         "response = all fine\n"
                         "unpriv = yes\n"
                         "[command multi]\n"
                         "response = one\n"
                         "+two\n");
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("test.ini").c_str()));
    ASSERT_TRUE(StartConsole(&selector_));
    ASSERT_TRUE(client_.Connect(TheConsoleServer()->BoundPort()));
  }
  bool Sees(const std::string &text) {
    return runner_.RunUntil([&] { return client_.Received(text); });
  }
  bool EndsWith(const std::string &text) {
    return runner_.RunUntil([&] { return client_.Poll(); }) && client_.Text() == text;
  }

  TestLog log_;
  OVKEventSelector selector_;
  LoopRunner runner_{selector_};
  TestPeer client_;
};

TEST_F(ConsoleTest, TrustedSessionRunsCommandsUntilAnEmptyLine) {
  Start("10.0.0.0/8, 127.0.0.1");
  ASSERT_TRUE(Sees("Welcome, operator\n"));
  std::string from = "Console: connection from 7f000001:" +
                     std::to_string(client_.LocalPort()) + " -- trusted";
  EXPECT_TRUE(log_.Contains(from));

  client_.Send("status\r\n");
  ASSERT_TRUE(Sees("Welcome, operator\nall fine\n"));
  EXPECT_TRUE(log_.Contains("Console: handling [status]"));
  client_.Send("&a status\nmulti\n");
  ASSERT_TRUE(Sees("Welcome, operator\nall fine\n[!] all fine\none\ntwo\n"));

  client_.Send("\r\nstatus\n");
  ASSERT_TRUE(EndsWith("Welcome, operator\nall fine\n[!] all fine\none\ntwo\n"));
  EXPECT_EQ(0, TheConsoleServer()->SessionCount());
  EXPECT_TRUE(log_.Contains("Console: handling []"));
  // The line after the empty one was dropped, not run.
  std::vector<std::string> lines = log_.Lines();
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "Console: handling [status]"));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("Console: shutting down the session", lines[lines.size() - 2]);
  EXPECT_EQ("Console session closed (destructor)", lines.back());
}

TEST_F(ConsoleTest, UntrustedSessionGetsNoResponses) {
  Start("10.0.0.0/8");
  ASSERT_TRUE(Sees("Hello>"));
  EXPECT_TRUE(log_.Lines().back().find("-- untrusted") != std::string::npos);
  // status is unprivileged and runs, but the untrusted caller is not told.
  client_.Send("status\nmulti\n\n");
  ASSERT_TRUE(EndsWith("Hello>"));
  EXPECT_TRUE(log_.Contains("Console: handling [multi]"));
}

TEST_F(ConsoleTest, OverlongLineEndsTheSession) {
  Start("127.0.0.1");
  ASSERT_TRUE(Sees("Welcome, operator\n"));
  client_.Send(std::string(ConsoleServerSession::kMaxLine, 's'));
  client_.Send("status\n");
  ASSERT_TRUE(EndsWith("Welcome, operator\n"));
  EXPECT_TRUE(log_.Contains("Console: line too long, closing the session"));
  EXPECT_EQ(0, TheConsoleServer()->SessionCount());
}

TEST_F(ConsoleTest, LineJustWithinTheBoundIsHandled) {
  Start("127.0.0.1");
  // The bound counts the line without its CR LF, which may come apart.
  std::string word(ConsoleServerSession::kMaxLine, 'w');
  client_.Send(word + "\r");
  client_.Send("\n");
  ASSERT_TRUE(Sees("Welcome, operator\nUnknown cmd " + word + "\n\n"));
  client_.Send(word + "\r\n");
  ASSERT_TRUE(Sees("Welcome, operator\nUnknown cmd " + word + "\n\nUnknown cmd " +
                   word + "\n\n"));
  EXPECT_FALSE(log_.Contains("Console: line too long, closing the session"));
  // One byte more, even a second CR, is too long.
  client_.Send(word + "\r\r\n");
  ASSERT_TRUE(runner_.RunUntil([&] { return client_.Poll(); }));
  EXPECT_TRUE(log_.Contains("Console: line too long, closing the session"));
}

TEST_F(ConsoleTest, LoggedLinesHidePasswordsAndControlBytes) {
  Start("127.0.0.1");
  client_.Send("&M hunter2 status\n");
  client_.Send("status\x1b[2J\rConsole: connection from 1:2 -- trusted\n");
  ASSERT_TRUE(runner_.RunUntil([&] {
    return log_.Contains("Console: handling [status\\x1b[2J\\x0dConsole: "
                         "connection from 1:2 -- trusted]");
  }));
  EXPECT_TRUE(log_.Contains("Console: handling [&M *** status]"));
  for (const std::string &line : log_.RawLines()) {
    EXPECT_EQ(std::string::npos, line.find("hunter2")) << line;
    EXPECT_EQ(std::string::npos, line.find('\x1b')) << line;
    EXPECT_EQ(std::string::npos, line.find('\r')) << line;
  }
}

TEST_F(ConsoleTest, RestartingTheConsoleEndsItsSessions) {
  Start("127.0.0.1");
  ASSERT_TRUE(Sees("Welcome, operator\n"));
  ASSERT_TRUE(StartConsole(&selector_));
  EXPECT_TRUE(log_.Contains("Console session closed (destructor)"));
  ASSERT_TRUE(EndsWith("Welcome, operator\n"));
  // The new server accepts on its own port.
  TestPeer again;
  ASSERT_TRUE(again.Connect(TheConsoleServer()->BoundPort()));
  ASSERT_TRUE(runner_.RunUntil([&] { return again.Received("Welcome, operator\n"); }));
}

// A server whose sessions let the test fire the idle timer at once.
class QuickSession : public ConsoleServerSession {
 public:
  using ConsoleServerSession::ConsoleServerSession;
  using ConsoleServerSession::OutputPaused;
  void Expire() { HandleSessionTimeout(); }
};

class QuickServer : public ConsoleServer {
 public:
  QuickServer() : ConsoleServer("127.0.0.1", 0, 60) {}
  OVKTcpServerSession *MakeNewSession(int fd) override {
    last = new QuickSession(fd, 60, GetSelector(), this);
    return last;
  }
  QuickSession *last = nullptr;
};

TEST_F(ConsoleTest, IdleTimeoutSaysSoAndCloses) {
  QuickServer server;
  ASSERT_TRUE(server.Listen(&selector_));
  ASSERT_TRUE(client_.Connect(server.BoundPort()));
  // Default configuration: untrusted, no greeting.
  ASSERT_TRUE(runner_.RunUntil([&] { return server.last != nullptr; }));
  EXPECT_FALSE(server.last->Trusted());
  server.last->Expire();
  ASSERT_TRUE(EndsWith("Timed out, sorry...\n"));
  EXPECT_EQ(0, server.SessionCount());
}

TEST_F(ConsoleTest, AClientThatDoesNotReadIsPausedThenEndedByItsTimeout) {
  // Each answer is 100 kB.
  std::string big = "[console]\ntrusted = 127.0.0.1\n[command big]\nresponse = ";
  for (int i = 0; i < 100; i++) big += std::string(999, 'z') + "\n+";
  log_.Dir().Write("test.ini", big + "\n");
  ASSERT_TRUE(LoadConfiguration(log_.Dir().File("test.ini").c_str()));
  QuickServer server;
  ASSERT_TRUE(server.Listen(&selector_));
  ASSERT_TRUE(client_.Connect(server.BoundPort()));
  int small = 4096;
  setsockopt(client_.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::string lines;
  for (int i = 0; i < 100; i++) lines += "big\n";
  client_.Send(lines);
  ASSERT_TRUE(runner_.RunUntil([&] { return server.last && server.last->OutputPaused(); }));
  // The socket buffers hold a few answers; the rest of the lines wait.
  std::vector<std::string> logged = log_.Lines();
  EXPECT_LT(std::count(logged.begin(), logged.end(), "Console: handling [big]"), 50);
  EXPECT_EQ(1, server.SessionCount());
  server.last->Expire();
  EXPECT_EQ(0, server.SessionCount());
  EXPECT_TRUE(log_.Contains("Console: the client reads nothing, closing the session"));
}

}  // namespace
