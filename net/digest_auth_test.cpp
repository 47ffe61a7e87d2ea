#include "net/digest_auth.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/test_log.h"
#include "net/test_loop.h"

namespace {

TEST(MD5hex, KnownDigests) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", MD5hex("").Str());
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", MD5hex("abc").Str());
  EXPECT_EQ("9e107d9d372bb6826bd81d3542a419d6",
            MD5hex("The quick brown fox jumps over the lazy dog").Str());
}

TEST(DigestParameters, QuotedPlainAndOddSpacing) {
  DigestParameters p = ParseDigestParameters(
      "username=\"Mufasa\", Realm = \"a, b\" ,nonce=abc ,uri=\"/x?y=1\","
      "junk  x=1,response=FF00");
  ASSERT_EQ(6u, p.size());
  EXPECT_EQ("Mufasa", FindDigestParameter(p, "username").Str());
  EXPECT_EQ("a, b", FindDigestParameter(p, "realm").Str());
  EXPECT_EQ("abc", FindDigestParameter(p, "NONCE").Str());
  EXPECT_EQ("/x?y=1", FindDigestParameter(p, "uri").Str());
  // A name ended by blanks takes the value after the next '='.
  EXPECT_EQ("1", FindDigestParameter(p, "junk").Str());
  EXPECT_EQ("FF00", FindDigestParameter(p, "response").Str());  // at the end
  EXPECT_TRUE(FindDigestParameter(p, "cnonce").IsAbsent());

  DigestParameters first = ParseDigestParameters("a=1, A=2, lonely, b=\"open");
  ASSERT_EQ(2u, first.size());
  EXPECT_EQ("1", FindDigestParameter(first, "a").Str());
  EXPECT_TRUE(ParseDigestParameters("").empty());

  // The character that starts a name or a value is never a separator.
  DigestParameters odd = ParseDigestParameters("a=,b=1, =c=2");
  ASSERT_EQ(2u, odd.size());
  EXPECT_EQ(",b=1", FindDigestParameter(odd, "a").Str());
  EXPECT_EQ("2", FindDigestParameter(odd, "=c").Str());
}

// A test machine with two users, whose web sessions answer "served".
class TestMachine : public OVKDigestAuthMachine {
 public:
  explicit TestMachine(OVKEventSelector *s) : OVKDigestAuthMachine(s, "home") {}
  int served = 0;
  std::string served_user;

 protected:
  class Session : public OVKWebSession {
   public:
    explicit Session(TestMachine *m) : OVKWebSession(m), machine_(m) {}
    void HandleRequest(OVKHttpServerSession *session, OVKHttpRequestParser &,
                       OVKHttpMessage &, const ScriptVariable &user) override {
      machine_->served++;
      machine_->served_user = user.Str();
      session->SetStatus(200, "OK");
      session->Response().Body().AddString("served");
      session->SendResponse();
    }

   private:
    TestMachine *machine_;
  };
  OVKWebSession *CreateSession(int) override { return new Session(this); }
  ScriptVariable GetPassword(const ScriptVariable &user) override {
    if (user == "alice") return "wonder";
    if (user == "bob") return "builder";
    return ScriptVariable::Absent();
  }
};

class AuthSession : public OVKHttpServerSession {
 public:
  AuthSession(int fd, OVKEventSelector *s, OVKTcpServer *server, TestMachine *m)
      : OVKHttpServerSession(fd, 0, s, server), machine_(m) {}

 protected:
  void HandleRequest(OVKHttpRequestParser &request) override {
    machine_->Authenticate(this, request, Response());
  }

 private:
  TestMachine *machine_;
};

class AuthServer : public OVKTcpServer {
 public:
  explicit AuthServer(TestMachine *m) : OVKTcpServer("127.0.0.1", 0), machine_(m) {}

 protected:
  OVKTcpServerSession *MakeNewSession(int fd) override {
    return new AuthSession(fd, GetSelector(), this, machine_);
  }

 private:
  TestMachine *machine_;
};

std::string DigestResponse(const std::string &user, const std::string &realm,
                           const std::string &password,
                           const std::string &method, const std::string &uri,
                           const std::string &nonce) {
  std::string ha1 = MD5hex(ScriptVariable(user + ":" + realm + ":" + password)).Str();
  std::string ha2 = MD5hex(ScriptVariable(method + ":" + uri)).Str();
  return MD5hex(ScriptVariable(ha1 + ":" + nonce + ":" + ha2)).Str();
}

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

class DigestAuthTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Listen(&selector_)); }

  // One request on a new connection; the whole answer.
  std::string Request(const std::string &authorization,
                      const std::string &method = "GET",
                      const std::string &target = "/secret") {
    TestPeer client;
    EXPECT_TRUE(client.Connect(server_.BoundPort()));
    std::string request = method + " " + target + " HTTP/1.1\r\n";
    if (!authorization.empty()) request += "Authorization: " + authorization + "\r\n";
    client.Send(request + "\r\n");
    EXPECT_TRUE(loop_.RunUntil([&] { return client.Poll(); }));
    return client.Text();
  }

  // The nonce of a 401 answer; checks the challenge line on the way.
  std::string Nonce(const std::string &answer, bool stale) {
    std::smatch m;
    std::regex challenge(
        "HTTP/1\\.1 401 Authorization Required\r\n"
        "WWW-Authenticate: Digest realm=\"home\", nonce=\"([0-9a-f]{32})\"(, "
        "stale=TRUE)?\r\nDate: [^]*");
    EXPECT_TRUE(std::regex_match(answer, m, challenge)) << answer;
    EXPECT_EQ(stale, m[2].matched) << answer;
    return m[1].str();
  }

  std::string Credentials(const std::string &user, const std::string &password,
                          const std::string &nonce,
                          const std::string &realm = "home",
                          const std::string &method = "GET",
                          const std::string &uri = "/secret") {
    return "Digest username=\"" + user + "\", realm=\"" + realm +
           "\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"" +
           DigestResponse(user, realm, password, method, uri, nonce) + "\"";
  }

  OVKEventSelector selector_;
  TestMachine machine_{&selector_};
  AuthServer server_{&machine_};
  LoopRunner loop_{selector_};
};

TEST_F(DigestAuthTest, FirstRequestIsChallengedWithANewSession) {
  Nonce(Request(""), false);
  EXPECT_EQ(1, machine_.LiveSessions());
  Nonce(Request("Basic YWxpY2U6d29uZGVy"), false);
  EXPECT_EQ(2, machine_.LiveSessions());
  EXPECT_EQ(0, machine_.served);
}

TEST_F(DigestAuthTest, RightAnswerIsServedAndRenewsTheSession) {
  std::string nonce = Nonce(Request(""), false);
  OVKWebSession *session = machine_.FindSession(nonce);
  ASSERT_NE(nullptr, session);
  long before = session->ExpirySec() * 1000000 + session->ExpiryUsec();
  std::string answer = Request(Credentials("alice", "wonder", nonce));
  EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nserved", answer);
  EXPECT_EQ("alice", machine_.served_user);
  EXPECT_GT(session->ExpirySec() * 1000000 + session->ExpiryUsec(), before);
  // The same nonce serves again; a POST needs its own method in the digest.
  EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nserved",
            Request(Credentials("alice", "wonder", nonce, "home", "POST"), "POST"));
  EXPECT_EQ(2, machine_.served);
  EXPECT_EQ(1, machine_.LiveSessions());
}

TEST_F(DigestAuthTest, UpperCaseResponseIsAccepted) {
  std::string nonce = Nonce(Request(""), false);
  std::string response = DigestResponse("bob", "home", "builder", "GET", "/secret", nonce);
  std::string auth = "digest username=bob, realm=home, nonce=" + nonce +
                     ", uri=/secret, response=" + Upper(response);
  EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nserved", Request(auth));
  EXPECT_EQ("bob", machine_.served_user);
}

TEST_F(DigestAuthTest, ExpiredNonceGetsAStaleChallenge) {
  std::string nonce = Nonce(Request(""), false);
  machine_.FindSession(nonce)->TimeoutHandle();  // its 15 seconds are over
  EXPECT_EQ(0, machine_.LiveSessions());
  std::string fresh = Nonce(Request(Credentials("alice", "wonder", nonce)), true);
  EXPECT_NE(nonce, fresh);
  EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nserved",
            Request(Credentials("alice", "wonder", fresh)));
}

TEST_F(DigestAuthTest, EveryOtherFailureIsAPlainChallenge) {
  TestLog log;
  std::string nonce = Nonce(Request(""), false);
  Nonce(Request(Credentials("alice", "builder", nonce)), false);  // bob's
  Nonce(Request(Credentials("alice", "wonder", nonce, "other")), false);
  Nonce(Request(Credentials("carol", "", nonce)), false);
  std::string no_uri = "Digest username=\"alice\", realm=\"home\", nonce=\"" +
                       nonce + "\", response=\"" +
                       DigestResponse("alice", "home", "wonder", "GET", "/secret", nonce) +
                       "\"";
  Nonce(Request(no_uri), false);
  // A right digest over a forged nonce is stale, never served.
  std::string forged = nonce.substr(0, 31);
  Nonce(Request(Credentials("alice", "wonder", forged)), true);
  Nonce(Request(Credentials("alice", "wonder", nonce + "0")), true);
  EXPECT_EQ(0, machine_.served);

  // Every failed attempt with a user name is logged; a request without
  // credentials and a right answer with a dead nonce are no attempts.
  std::vector<std::string> failed;
  for (const std::string &line : log.Lines())
    if (line.find("failed login") != std::string::npos) failed.push_back(line);
  std::vector<std::string> expected(
      3, "webserver: failed login for user ``alice''");
  expected.insert(expected.begin() + 2, "webserver: failed login for user ``carol''");
  EXPECT_EQ(expected, failed);
}

TEST_F(DigestAuthTest, AFailedLoginShowsControlBytesOfTheUserNameEscaped) {
  TestLog log;
  std::string nonce = Nonce(Request(""), false);
  Nonce(Request(Credentials("ev\til\x7f\x1b[2J", "x", nonce)), false);
  EXPECT_TRUE(log.Contains("webserver: failed login for user ``ev\\x09il\\x7f\\x1b[2J''"))
      << log.Lines().back();
}

TEST_F(DigestAuthTest, AnswerIsBoundToTheRequestTarget) {
  std::string nonce = Nonce(Request(""), false);
  // A captured answer for one page opens no other.
  Nonce(Request(Credentials("alice", "wonder", nonce), "GET", "/other"), false);
  // The target counts as received: encoded, with its query.
  const std::string target = "/a%20b?x=1";
  EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nserved",
            Request(Credentials("alice", "wonder", nonce, "home", "GET", target),
                    "GET", target));
  Nonce(Request(Credentials("alice", "wonder", nonce, "home", "GET", "/a b?x=1"),
                "GET", target),
        false);
  Nonce(Request(Credentials("alice", "wonder", nonce, "home", "GET", "/a%20b"),
                "GET", target),
        false);
  // Even over a dead nonce a wrong uri is a plain challenge, not stale.
  machine_.FindSession(nonce)->TimeoutHandle();
  Nonce(Request(Credentials("alice", "wonder", nonce), "GET", "/other"), false);
  EXPECT_EQ(1, machine_.served);
}

TEST(SameDigest, CaseOfTheAnswerDoesNotMatterItsLengthDoes) {
  const ScriptVariable expected = "0123456789abcdef0123456789abcdef";
  EXPECT_TRUE(SameDigest("0123456789ABCDEF0123456789abcdef", expected));
  EXPECT_FALSE(SameDigest("0123456789abcdef0123456789abcdee", expected));
  EXPECT_FALSE(SameDigest("1123456789abcdef0123456789abcdef", expected));
  EXPECT_FALSE(SameDigest("0123456789abcdef0123456789abcde", expected));
  EXPECT_FALSE(SameDigest("0123456789abcdef0123456789abcdef0", expected));
  EXPECT_FALSE(SameDigest("", expected));
  // Only letters fold: a byte that differs from a digit by the case bit
  // is no digit.
  EXPECT_FALSE(SameDigest("\x10" "123456789abcdef0123456789abcdef", expected));
}

}  // namespace
