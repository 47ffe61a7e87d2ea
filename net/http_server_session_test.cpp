#include "net/http_server_session.h"

#include <gtest/gtest.h>
#include <time.h>

#include <functional>
#include <regex>
#include <string>

#include "core/log_test_support.h"
#include "net/loop_test_support.h"

namespace {

// What the sessions of a test saw.
struct Seen {
  int requests = 0;
  int body_data_calls = 0;
  int body_complete_calls = 0;
  int largest_body_seen = 0;
  std::string method;
  std::string path;
  bool path_absent = false;
  std::string body;
  int headers = 0;
};

class RecordingSession : public OVKHttpServerSession {
 public:
  using Answer = std::function<void(RecordingSession &)>;
  RecordingSession(int fd, OVKEventSelector *selector, OVKTcpServer *server,
                   Seen *seen, const Answer *answer)
      : OVKHttpServerSession(fd, 0, selector, server),
        seen_(seen),
        answer_(answer) {}
  using OVKHttpServerSession::HandleSessionTimeout;

 protected:
  void HandleBodyData(OVKBuffer &body) override {
    seen_->body_data_calls++;
    if (body.Length() > seen_->largest_body_seen)
      seen_->largest_body_seen = body.Length();
  }
  void HandleBodyComplete(OVKBuffer &) override {
    seen_->body_complete_calls++;
  }
  void HandleRequest(OVKHttpRequestParser &request) override {
    seen_->requests++;
    seen_->method = Method().Str();
    seen_->path_absent = Path().IsAbsent();
    seen_->path = Path().Str();
    seen_->body.assign(request.Body().GetBuffer(), request.Body().Length());
    seen_->headers = request.HeaderCount();
    if (*answer_) (*answer_)(*this);
  }

 private:
  Seen *seen_;
  const Answer *answer_;  // the server's, read at request time
};

void AnswerHello(RecordingSession &s) {
  s.SetStatus(200, "OK");
  s.AddHeader("Content-Type", "text/plain");
  s.Response().Body().AddString("hello");
  s.SendResponse();
}

const char kHello[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nhello";

class RecordingServer : public OVKTcpServer {
 public:
  RecordingServer() : OVKTcpServer("127.0.0.1", 0) {}
  Seen seen;
  RecordingSession::Answer answer = AnswerHello;
  RecordingSession *last = nullptr;

 protected:
  OVKTcpServerSession *MakeNewSession(int fd) override {
    last = new RecordingSession(fd, GetSelector(), this, &seen, &answer);
    return last;
  }
};

class HttpServerSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Listen(&selector_));
    ASSERT_TRUE(client_.Connect(server_.BoundPort()));
    ASSERT_TRUE(loop_.RunUntil([&] { return server_.SessionCount() == 1; }));
  }
  // Sends, then runs the loop until the server closed the connection.
  std::string Exchange(const std::string &request) {
    client_.Send(request);
    EXPECT_TRUE(loop_.RunUntil([&] { return client_.Poll(); }));
    return client_.Text();
  }
  bool RunUntilRequests(int n) {
    return loop_.RunUntil([&] { return server_.seen.requests >= n; }, 2000);
  }
  // Runs a few passes of the loop with nothing expected to happen.
  void Settle() {
    int passes = 0;
    loop_.RunUntil([&] { return ++passes > 3; });
  }

  OVKEventSelector selector_;
  RecordingServer server_;
  LoopRunner loop_{selector_};
  TestPeer client_;
};

// The standard error page of SendError.
std::string ErrorPage(const std::string &status, const std::string &reason,
                      const std::string &text) {
  return "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n"
         "<HTML><HEAD><TITLE>\n" +
         status + " " + reason + "</TITLE></HEAD><BODY><H1>" + reason +
         "</H1><P>" + text + "</P></BODY></HTML>\n";
}

// Checks a full error answer with its four headers, extra headers first.
void ExpectErrorAnswer(const std::string &answer, const std::string &status,
                       const std::string &reason, const std::string &extra) {
  std::string page = ErrorPage(status, reason, reason);
  std::smatch m;
  std::regex form(
      "HTTP/1\\.1 ([^\r]*)\r\n([^]*)Date: ([^\r]*)\r\n"
      "Server: Another ugly server created with OVK\r\n"
      "Content-Type: text/html; charset=iso-8859-1\r\n"
      "Content-Length: ([0-9]+)\r\n\r\n([^]*)");
  ASSERT_TRUE(std::regex_match(answer, m, form)) << answer;
  EXPECT_EQ(status + " " + reason, m[1].str());
  EXPECT_EQ(extra, m[2].str());
  EXPECT_TRUE(std::regex_match(
      m[3].str(), std::regex("[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} "
                             "[0-9]{2}:[0-9]{2}:[0-9]{2} GMT")))
      << m[3].str();
  EXPECT_EQ(std::to_string(page.size()), m[4].str());
  EXPECT_EQ(page, m[5].str());
}

TEST_F(HttpServerSessionTest, RequestLineAndEmptyLineMakeARequest) {
  EXPECT_EQ(kHello, Exchange("\r\nGET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(1, server_.seen.requests);
  EXPECT_EQ("GET", server_.seen.method);
  EXPECT_EQ("/", server_.seen.path);
  EXPECT_EQ(0, server_.seen.headers);
  EXPECT_TRUE(loop_.RunUntil([&] { return server_.SessionCount() == 0; }));
}

TEST_F(HttpServerSessionTest, RequestArrivingByteByByte) {
  std::string request = "POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
  for (char c : request) {
    client_.Send(std::string(1, c));
    Settle();
  }
  ASSERT_TRUE(RunUntilRequests(1));
  EXPECT_EQ("abc", server_.seen.body);
  EXPECT_EQ(1, server_.seen.body_complete_calls);
  // Each body byte was handed on as it came.
  EXPECT_EQ(3, server_.seen.body_data_calls);
}

TEST_F(HttpServerSessionTest, OnlyTheFirstOfTwoPipelinedRequestsIsAnswered) {
  EXPECT_EQ(kHello,
            Exchange("GET /one HTTP/1.1\r\n\r\nGET /two HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(1, server_.seen.requests);
  EXPECT_EQ("/one", server_.seen.path);
}

// Closing with unread input would make the kernel reset the connection,
// so the close waits only when the client may still be sending.
TEST_F(HttpServerSessionTest,
       ClosesAtOnceAfterAWholeRequestAndDrainsOtherwise) {
  EXPECT_EQ(kHello, Exchange("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(0, server_.SessionCount());

  // Bytes after the request: the answer is out, the rest is drained.
  TestPeer pipelined;
  ASSERT_TRUE(pipelined.Connect(server_.BoundPort()));
  pipelined.Send("GET /one HTTP/1.1\r\n\r\nGET /two HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(loop_.RunUntil([&] { return pipelined.Poll(); }));
  EXPECT_EQ(kHello, pipelined.Text());
  EXPECT_EQ(1, server_.SessionCount());
  pipelined.Close();
  EXPECT_TRUE(loop_.RunUntil([&] { return server_.SessionCount() == 0; }));

  // A request that filled a whole read may have more behind it.
  TestPeer full;
  ASSERT_TRUE(full.Connect(server_.BoundPort()));
  std::string head = "GET / HTTP/1.1\r\nX: ";
  std::string request =
      head + std::string(1024 - head.size() - 4, 'x') + "\r\n\r\n";
  ASSERT_EQ(static_cast<size_t>(OVKGenericDuplexSession::kReadChunk),
            request.size());
  full.Send(request);
  ASSERT_TRUE(loop_.RunUntil([&] { return full.Poll(); }));
  EXPECT_EQ(kHello, full.Text());
  EXPECT_EQ(1, server_.SessionCount());
}

TEST_F(HttpServerSessionTest, RequestWaitingAtAcceptIsAnsweredInThatPass) {
  TestPeer early;
  ASSERT_TRUE(early.Connect(server_.BoundPort()));
  early.Send("GET / HTTP/1.1\r\n\r\n");
  RunOnePass(selector_);
  EXPECT_TRUE(early.Poll());
  EXPECT_EQ(kHello, early.Text());
  EXPECT_EQ(1, server_.SessionCount());  // the fixture's client only
}

TEST_F(HttpServerSessionTest, ContentLengthMustBeDecimal) {
  ExpectErrorAnswer(Exchange("POST / HTTP/1.1\r\nContent-Length: 5x\r\n\r\n"),
                    "400", "Error", "");
  EXPECT_EQ(0, server_.seen.requests);
}

TEST_F(HttpServerSessionTest, ContentLengthZeroCompletesAtEndOfHead) {
  EXPECT_EQ(kHello, Exchange("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ("", server_.seen.body);
  EXPECT_EQ(0, server_.seen.body_complete_calls);
}

TEST_F(HttpServerSessionTest, ShortBodyWaitsUntilIdleTimeout) {
  client_.Send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n1234");
  ASSERT_TRUE(loop_.RunUntil([&] { return server_.seen.body_data_calls > 0; }));
  Settle();
  EXPECT_EQ(0, server_.seen.requests);
  EXPECT_EQ(4, server_.seen.largest_body_seen);
  EXPECT_FALSE(client_.Poll());
  // The idle timer ends it without an answer.
  server_.last->HandleSessionTimeout();
  EXPECT_TRUE(loop_.RunUntil([&] { return client_.Poll(); }));
  EXPECT_EQ("", client_.Text());
  EXPECT_EQ(0, server_.SessionCount());
}

TEST_F(HttpServerSessionTest, UnansweredRequestStopsReadingUntilTimeout) {
  server_.answer = nullptr;
  client_.Send("GET / HTTP/1.1\r\n\r\nmore");
  ASSERT_TRUE(RunUntilRequests(1));
  Settle();
  EXPECT_EQ(OVKHttpServerSession::kRequestComplete, server_.last->State());
  EXPECT_FALSE(client_.Poll());
  server_.last->HandleSessionTimeout();
  EXPECT_TRUE(loop_.RunUntil([&] { return client_.Poll(); }));
  EXPECT_EQ("", client_.Text());
}

TEST_F(HttpServerSessionTest, HalfClosingClientStillGetsTheAnswer) {
  client_.Send("GET / HTTP/1.1\r\n\r\n");
  shutdown(client_.Fd(), SHUT_WR);
  EXPECT_TRUE(loop_.RunUntil([&] { return client_.Poll(); }));
  EXPECT_EQ(kHello, client_.Text());
}

TEST_F(HttpServerSessionTest, ExpectHeaderIsRefused) {
  ExpectErrorAnswer(Exchange("PUT / HTTP/1.1\r\nExpect: "
                             "100-continue\r\nContent-Length: 3\r\n\r\n"),
                    "417", "Expectation failed", "");
  EXPECT_EQ(0, server_.seen.requests);
}

TEST_F(HttpServerSessionTest, CallerHeadersComeBeforeDate) {
  server_.answer = [](RecordingSession &s) {
    s.AddHeader("WWW-Authenticate", "Digest realm=\"r\", nonce=\"n\"");
    s.SendError(401, "Authorization Required", nullptr, true);
    s.SendError(500, "second answer", nullptr, true);  // ignored
  };
  ExpectErrorAnswer(Exchange("GET / HTTP/1.1\r\n\r\n"), "401",
                    "Authorization Required",
                    "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n");
}

TEST_F(HttpServerSessionTest, PreparedBodyReplacesTheErrorPage) {
  server_.answer = [](RecordingSession &s) {
    s.Response().Body().AddString("Not here");
    s.SendError(404, "Not found", nullptr, true);
  };
  std::string answer = Exchange("GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 404 Not found\r\n"));
  EXPECT_NE(std::string::npos,
            answer.find("\r\nContent-Length: 8\r\n\r\nNot here"));
}

TEST_F(HttpServerSessionTest, RequestLineWithoutMethodIsABadRequest) {
  std::string request("\0 / HTTP/1.1\r\n\r\n", 16);
  EXPECT_EQ("\r\n" + ErrorPage("400", "Bad Request", "I don't understand you"),
            Exchange(request));
}

TEST_F(HttpServerSessionTest, TargetNeitherPathNorUrlIsRefused) {
  ExpectErrorAnswer(Exchange("GET index.html HTTP/1.1\r\n\r\n"), "400", "Error",
                    "");
}

TEST_F(HttpServerSessionTest, HeadOverLimitIsRefused) {
  // The limit is crossed within the last read, so nothing is left unread.
  std::string request = "GET / HTTP/1.1\r\nX: " + std::string(16400, 'a');
  ExpectErrorAnswer(Exchange(request), "413", "Request Entity Too Large", "");
  EXPECT_EQ(0, server_.seen.requests);
}

TEST_F(HttpServerSessionTest, RawHeadIsBoundedLineEndsIncluded) {
  // Blanks and line ends in a header name are not counted in the head
  // size, but they are bytes all the same.
  std::string head = "GET / HTTP/1.1\r\n";
  head += std::string(OVKHttpServerSession::kMaxRawHeadSize - head.size(), ' ');
  client_.Send(head);
  Settle();
  EXPECT_EQ(OVKHttpServerSession::kHeaders, server_.last->State());
  ExpectErrorAnswer(Exchange("\r"), "413", "Request Entity Too Large", "");
  EXPECT_EQ(0, server_.seen.requests);
}

TEST_F(HttpServerSessionTest, HeaderLinesAreBounded) {
  std::string head = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < OVKHttpServerSession::kMaxHeaders; i++) head += "a:\r\n";
  EXPECT_EQ(kHello, Exchange(head + "\r\n"));
  EXPECT_EQ(OVKHttpServerSession::kMaxHeaders + 0, server_.seen.headers);
}

TEST_F(HttpServerSessionTest, OneHeaderLineTooManyIsRefused) {
  std::string head = "GET / HTTP/1.1\r\n";
  for (int i = 0; i <= OVKHttpServerSession::kMaxHeaders; i++) head += "a:\r\n";
  ExpectErrorAnswer(Exchange(head + "\r\n"), "413", "Request Entity Too Large",
                    "");
  EXPECT_EQ(0, server_.seen.requests);
}

TEST_F(HttpServerSessionTest, BodyOverLimitIsRefusedBeforeBuffering) {
  ExpectErrorAnswer(
      Exchange("POST / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n"), "413",
      "Request Entity Too Large", "");
  EXPECT_EQ(0, server_.seen.body_data_calls);
  EXPECT_EQ(0, server_.seen.requests);
}

TEST_F(HttpServerSessionTest, HugeContentLengthIsRefusedNotWrapped) {
  ExpectErrorAnswer(
      Exchange(
          "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"),
      "413", "Request Entity Too Large", "");
}

TEST_F(HttpServerSessionTest, BodyAtTheLimitIsAccepted) {
  client_.Send("POST / HTTP/1.1\r\nContent-Length: 65536\r\n\r\nabc");
  ASSERT_TRUE(loop_.RunUntil([&] { return server_.seen.body_data_calls > 0; }));
  EXPECT_EQ(OVKHttpServerSession::kBody, server_.last->State());
  EXPECT_EQ(65536, server_.last->ContentLength());
}

// Request targets and the paths they give.
struct TargetCase {
  const char *line;
  const char *path;  // nullptr: no path
};

class RequestTargetTest : public HttpServerSessionTest,
                          public ::testing::WithParamInterface<TargetCase> {};

TEST_P(RequestTargetTest, GivesPath) {
  EXPECT_EQ(kHello, Exchange(std::string(GetParam().line) + "\r\n\r\n"));
  ASSERT_EQ(1, server_.seen.requests);
  if (GetParam().path == nullptr) {
    EXPECT_TRUE(server_.seen.path_absent);
  } else {
    EXPECT_FALSE(server_.seen.path_absent);
    EXPECT_EQ(GetParam().path, server_.seen.path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RequestTargetTest,
    ::testing::Values(TargetCase{"GET http://host.example/a?b HTTP/1.1", "/a"},
                      TargetCase{"GET http://host.example HTTP/1.1", "/"},
                      TargetCase{"GET /a%20b+c HTTP/1.1", "/a b c"},
                      TargetCase{"OPTIONS * HTTP/1.1", nullptr},
                      TargetCase{"GET /only", "/only"},
                      TargetCase{" \tGET  /a b \t HTTP/1.0  ", "/a b"},
                      TargetCase{"GET /x%00y?q HTTP/1.1", "/x"}));

// The real monotonic clock, moved forward by hand.
long clock_offset_sec = 0;
void OffsetClock(long *sec, long *usec) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  *sec = now.tv_sec + clock_offset_sec;
  *usec = now.tv_nsec / 1000;
}

class RequestDeadlineTest : public HttpServerSessionTest {
 protected:
  void SetUp() override {
    clock_offset_sec = 0;
    OVKSetClockForTesting(OffsetClock);
    HttpServerSessionTest::SetUp();
  }
  void TearDown() override { OVKSetClockForTesting(nullptr); }
  // Moves the clock to seconds after the start and runs a few passes.
  void At(long seconds) {
    clock_offset_sec = seconds;
    Settle();
  }
  TestLog log_;
};

TEST_F(RequestDeadlineTest,
       TricklingRequestIsClosedThirtySecondsAfterItsStart) {
  // Each blank in a header name is input that restarts no count.
  client_.Send("GET / HTTP/1.1\r\n");
  ASSERT_TRUE(loop_.RunUntil(
      [&] { return server_.last->State() == OVKHttpServerSession::kHeaders; }));
  for (long t = 10; t < OVKHttpServerSession::kRequestDeadline; t += 10) {
    client_.Send(" ");
    At(t);
    ASSERT_FALSE(client_.Poll()) << "closed at " << t;
  }
  clock_offset_sec = OVKHttpServerSession::kRequestDeadline + 1;
  ASSERT_TRUE(loop_.RunUntil([&] { return client_.Poll(); }));
  EXPECT_EQ("", client_.Text());
  EXPECT_EQ(0, server_.SessionCount());
  EXPECT_TRUE(log_.Contains(
      "HTTP request not complete within 30 seconds, closing the connection"));
}

TEST_F(RequestDeadlineTest, BodyCountsIntoTheDeadline) {
  client_.Send("POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nab");
  ASSERT_TRUE(loop_.RunUntil([&] { return server_.seen.body_data_calls > 0; }));
  At(OVKHttpServerSession::kRequestDeadline - 1);
  EXPECT_FALSE(client_.Poll());
  At(OVKHttpServerSession::kRequestDeadline + 1);
  ASSERT_TRUE(loop_.RunUntil([&] { return client_.Poll(); }));
  EXPECT_EQ(0, server_.seen.requests);
}

TEST_F(RequestDeadlineTest, CompleteRequestIsNotCutOff) {
  server_.answer = nullptr;  // left unanswered: only the idle timer ends it
  client_.Send("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(RunUntilRequests(1));
  At(OVKHttpServerSession::kRequestDeadline + 1);
  EXPECT_FALSE(client_.Poll());
  EXPECT_EQ(1, server_.SessionCount());
  EXPECT_FALSE(log_.Contains(
      "HTTP request not complete within 30 seconds, closing the connection"));
}

}  // namespace
