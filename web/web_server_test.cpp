#include "web/web_server.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "actions/actions.h"
#include "config/configuration.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "net/digest_auth.h"
#include "net/loop_test_support.h"
#include "web/page_serving.h"
#include "web/web_variables.h"

namespace {

const char kBase[] =
    "[general]\n"
    "name = testbox\n"
    "[webserver]\n"
    "port = 0\n"
    "realm = house\n"
    "users = alice:wonder, bob:builder\n"
    "[command status]\n"
    "response = all quiet\n"
    "[command arm]\n"
    "event = arming %*%\n"
    "response = armed(%*%)\n";

// Stands in for the system variables the daemon hands over; the pages here
// only need %sysname%.
class SystemName : public ScriptSubstitutionSingleName {
 public:
  SystemName() : ScriptSubstitutionSingleName("sysname") {}
  ScriptVariable Text() override { return GeneralName(); }
};

void AddSystemName(ScriptSubstitution &engine) {
  engine.AddVariable(new SystemName);
}

class WebServerTest : public ::testing::Test {
 protected:
  ~WebServerTest() override { ResetProcessState(); }

  void Start(const std::string &pages,
             const std::string &webserver_extra = "") {
    std::string config = kBase;
    config.insert(config.find("[command"), webserver_extra);
    log_.Dir().Write("web.ini", config + pages);
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("web.ini")));
    SetWebSharedVariables(AddSystemName);
    StartWebServer(&selector_);
    ASSERT_NE(nullptr, TheWebServer());
    port_ = TheWebServer()->BoundPort();
    ASSERT_GT(port_, 0);
  }

  // One request on its own connection; the whole answer.
  std::string Ask(const std::string &method, const std::string &path,
                  const std::string &body = "",
                  const std::string &headers = "") {
    TestPeer client;
    EXPECT_TRUE(client.Connect(port_));
    std::string request = method + " " + path + " HTTP/1.1\r\n" + headers;
    if (!body.empty())
      request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    client.Send(request + "\r\n" + body);
    EXPECT_TRUE(loop_.RunUntil([&] { return client.Poll(); }));
    return client.Text();
  }

  // A request to a protected page answered with the credentials of user.
  std::string AskAs(const std::string &user, const std::string &password,
                    const std::string &path) {
    std::smatch m;
    std::string challenge = Ask("GET", path);
    if (!std::regex_search(challenge, m,
                           std::regex("nonce=\"([0-9a-f]{32})\"")))
      return "no challenge: " + challenge;
    std::string nonce = m[1].str();
    std::string ha1 = MD5hex(ScriptVariable(user + ":house:" + password)).Str();
    std::string ha2 = MD5hex(ScriptVariable("GET:" + path)).Str();
    std::string response =
        MD5hex(ScriptVariable(ha1 + ":" + nonce + ":" + ha2)).Str();
    return Ask("GET", path, "",
               "Authorization: Digest username=\"" + user +
                   "\", realm=\"house\", nonce=\"" + nonce + "\", uri=\"" +
                   path + "\", response=\"" + response + "\"\r\n");
  }

  int CountLog(const std::string &line) const {
    int n = 0;
    for (const std::string &l : log_.Lines()) n += l == line;
    return n;
  }

  static std::string Ok(const std::string &body,
                        const std::string &type = "text/html") {
    return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n\r\n" + body;
  }
  static std::string Status(const std::string &answer) {
    return answer.substr(0, answer.find("\r\n"));
  }
  static std::string Body(const std::string &answer) {
    size_t p = answer.find("\r\n\r\n");
    return p == std::string::npos ? "" : answer.substr(p + 4);
  }

  TestLog log_;
  OVKEventSelector selector_;
  LoopRunner loop_{selector_};
  int port_ = -1;
};

TEST_F(WebServerTest, WithoutPagesEverythingIsNotFound) {
  Start("");
  std::string answer = Ask("GET", "/");
  EXPECT_EQ("HTTP/1.1 404 Not found", Status(answer));
  EXPECT_NE(std::string::npos,
            answer.find("\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
                        "Content-Length: 9\r\n\r\nNot found"));
  EXPECT_EQ("Not found", Body(answer));
  EXPECT_TRUE(log_.Contains("webserver: request for [/] method GET"));
  EXPECT_TRUE(log_.Contains("webserver: not found, aborting session"));

  answer = Ask("HEAD", "/");
  EXPECT_EQ("HTTP/1.1 405 Method Not Allowed", Status(answer));
  EXPECT_EQ(0u, answer.find(
                    "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET\r\nDate: "));
  EXPECT_FALSE(log_.Contains("webserver: request for [/] method HEAD"));

  EXPECT_EQ("HTTP/1.1 405 Method Not Allowed", Status(Ask("OPTIONS", "*")));
  EXPECT_EQ("HTTP/1.1 404 Not found", Status(Ask("get", "*")));
  EXPECT_TRUE(log_.Contains("webserver: request for [*] method get"));
}

TEST_F(WebServerTest, NotFoundPageIsAnExpandedTemplate) {
  Start("", "p404 = <p>%sysname% has no such page</p>\n");
  EXPECT_EQ("<p>testbox has no such page</p>", Body(Ask("GET", "/nothing")));
}

TEST_F(WebServerTest, PublicPageIsExpanded) {
  Start(
      "[webpage /status]\ntype = page\npublic = YES\ncontent = System: "
      "%sysname%\n"
      "[webpage /plain]\ntype = page\npublic = yes\nmimetype = text/plain\n"
      "content = 100%%\n");
  EXPECT_EQ(Ok("System: testbox"), Ask("GET", "/status"));
  EXPECT_EQ(Ok("100%", "text/plain"), Ask("post", "/plain?x=1"));
  EXPECT_EQ(0, CountLog("ZZZ in HandleProtected"));
}

TEST_F(WebServerTest, CommandPageRunsThePostedCommand) {
  Start(
      "[webpage /ctrl]\ntype = command\npublic = yes\n"
      "content = <form>%cmdresponse%</form>\nresponse = Result: %cmdresponse%\n"
      "[webpage /last]\ntype = page\npublic = yes\ncontent = last: "
      "%cmdresponse%\n"
      "[webpage /same]\ntype = command\npublic = yes\ncontent = "
      "C[%cmdresponse%]\n");
  EXPECT_EQ(Ok("<form></form>"), Ask("GET", "/ctrl"));
  EXPECT_EQ(Ok("Result: all quiet"), Ask("POST", "/ctrl", "command=status"));
  EXPECT_EQ(Ok("last: all quiet"), Ask("GET", "/last"));
  // The numbered fields make one line; without response the content shows.
  EXPECT_EQ(Ok("C[armed(now)]"), Ask("POST", "/same", "cmd0=arm&cmd1=now"));
  EXPECT_EQ(Ok("last: armed(now)"), Ask("GET", "/last"));
}

TEST_F(WebServerTest, CommandPostsFromAnotherSiteAreRefused) {
  Start(
      "[webpage /ctrl]\ntype = command\npublic = yes\n"
      "content = form\nresponse = Result: %cmdresponse%\n");
  std::string foreign =
      Ask("POST", "/ctrl", "command=status",
          "Host: 127.0.0.1:7281\r\nOrigin: http://evil.example\r\n");
  EXPECT_EQ(0u, foreign.find("HTTP/1.1 403 Forbidden\r\n")) << foreign;
  EXPECT_EQ(
      1, CountLog(
             "webserver: command post for [/ctrl] from another site refused"));
  EXPECT_EQ(0, CountLog("Processing command status(4:)/-1..."));
  std::string referer =
      Ask("POST", "/ctrl", "command=status",
          "Host: house:80\r\nReferer: http://other:80/ctrl\r\n");
  EXPECT_EQ(0u, referer.find("HTTP/1.1 403 Forbidden\r\n"));
  // The site's own pages, and clients that name no origin, are served.
  EXPECT_EQ(Ok("Result: all quiet"),
            Ask("POST", "/ctrl", "command=status",
                "Host: 127.0.0.1:7281\r\nOrigin: http://127.0.0.1:7281\r\n"));
  EXPECT_EQ(Ok("Result: all quiet"),
            Ask("POST", "/ctrl", "command=status",
                "Host: house\r\nReferer: http://house/ctrl?x\r\n"));
  EXPECT_EQ(Ok("Result: all quiet"), Ask("POST", "/ctrl", "command=status"));
  // A GET of the form is never refused.
  EXPECT_EQ(Ok("form"),
            Ask("GET", "/ctrl", "", "Host: a\r\nOrigin: http://b\r\n"));
}

TEST_F(WebServerTest, SandboxedAndFetchMarkedCrossSitePostsAreRefused) {
  Start(
      "[webpage /ctrl]\ntype = command\npublic = yes\n"
      "content = form\nresponse = Result: %cmdresponse%\n");
  auto refused = [&](const std::string &headers) {
    return Status(Ask("POST", "/ctrl", "command=status", headers)) ==
           "HTTP/1.1 403 Forbidden";
  };
  // A sandboxed frame or data: page with its Referer suppressed.
  EXPECT_TRUE(refused("Host: house\r\nOrigin: null\r\n"));
  EXPECT_TRUE(
      refused("Host: house\r\nOrigin: null\r\nReferer: http://house/ctrl\r\n"));
  EXPECT_TRUE(refused("Host: house\r\nSec-Fetch-Site: cross-site\r\n"));
  EXPECT_TRUE(refused("Host: house\r\nSec-Fetch-Site: same-site\r\n"));
  EXPECT_TRUE(
      refused("Host: house\r\nSec-Fetch-Site: cross-site\r\n"
              "Origin: http://house\r\n"));
  EXPECT_TRUE(refused("Sec-Fetch-Site: \r\n"));
  EXPECT_EQ(
      6, CountLog(
             "webserver: command post for [/ctrl] from another site refused"));
  EXPECT_EQ(0, CountLog("Processing command status(4:)/-1..."));
  // The site's own form, and a link typed by the user, are served.
  EXPECT_FALSE(
      refused("Host: house\r\nSec-Fetch-Site: same-origin\r\n"
              "Origin: http://house\r\n"));
  EXPECT_FALSE(refused("Host: house\r\nSec-Fetch-Site: none\r\n"));
  EXPECT_FALSE(refused("Host: house\r\nSec-Fetch-Site: same-origin \r\n"));
  EXPECT_EQ(3, CountLog("Processing command status(4:)/-1..."));
}

TEST_F(WebServerTest, PostedFormEndsAtItsFirstZeroByte) {
  Start(
      "[webpage /ctrl]\ntype = command\npublic = yes\n"
      "content = form\nresponse = [%cmdresponse%]\n");
  EXPECT_EQ(Ok("[]"),
            Ask("POST", "/ctrl", std::string("x=1\0&command=status", 19)));
  EXPECT_EQ(0, CountLog("Processing command status(4:)/-1..."));
  EXPECT_EQ(
      Ok("[all quiet]"),
      Ask("POST", "/ctrl", std::string("command=status\0&command=arm", 27)));
}

TEST_F(WebServerTest, LoggedPathShowsControlBytesAsHex) {
  Start("");
  Ask("GET", "/x%0aConsole:%20connection%1b[2J");
  EXPECT_TRUE(
      log_.Contains("webserver: request for [/x\\x0aConsole: "
                    "connection\\x1b[2J] method GET"));
  for (const std::string &line : log_.RawLines())
    EXPECT_NE(0u, line.find("Console")) << "forged: " << line;
}

TEST(FormCommandLine, CommandFieldOrNumberedFields) {
  EXPECT_EQ("arm now ", FormCommandLine(ParseForm("cmd0=arm&cmd1=now")).Str());
  EXPECT_EQ("a x ", FormCommandLine(ParseForm("cmd1=x&cmd0=a&cmd3=y")).Str());
  EXPECT_EQ(
      "status",
      FormCommandLine(ParseForm("cmd0=arm&command=status&command=x")).Str());
  EXPECT_EQ("", FormCommandLine(ParseForm("other=1")).Str());
}

TEST_F(WebServerTest, ProtectedPageAuthenticatesEachUser) {
  Start("[webpage /secret]\ntype = page\ncontent = hello %sysname%\n");
  std::string challenge = Ask("GET", "/secret");
  EXPECT_EQ("HTTP/1.1 401 Authorization Required", Status(challenge));
  EXPECT_TRUE(std::regex_search(
      challenge, std::regex("\r\nWWW-Authenticate: Digest realm=\"house\", "
                            "nonce=\"[0-9a-f]{32}\"\r\nDate: ")));
  EXPECT_EQ(1, CountLog("ZZZ in HandleProtected"));

  EXPECT_EQ(Ok("hello testbox"), AskAs("alice", "wonder", "/secret"));
  EXPECT_EQ(Ok("hello testbox"), AskAs("bob", "builder", "/secret"));
  EXPECT_EQ("HTTP/1.1 401 Authorization Required",
            Status(AskAs("alice", "builder", "/secret")));
  EXPECT_EQ("HTTP/1.1 401 Authorization Required",
            Status(AskAs("carol", "", "/secret")));
}

TEST_F(WebServerTest, ChallengeCarriesTheConfiguredPasswordPage) {
  // Without the key every 401 carries the plain error page.
  Start("[webpage /secret]\ntype = page\ncontent = hello\n");
  std::string plain = AskAs("alice", "builder", "/secret");
  EXPECT_NE(std::string::npos,
            Body(plain).find("<H1>Authorization Required</H1>"));
  StopWebServer();

  Start("[webpage /secret]\ntype = page\ncontent = hello\n",
        "p401 = <p>%sysname% needs your password</p>\n");
  const std::string page = "<p>testbox needs your password</p>";
  for (const std::string &answer :
       {Ask("GET", "/secret"), AskAs("alice", "builder", "/secret"),
        AskAs("carol", "", "/secret")}) {
    EXPECT_EQ("HTTP/1.1 401 Authorization Required", Status(answer));
    EXPECT_TRUE(std::regex_search(
        answer, std::regex("\r\nWWW-Authenticate: Digest realm=\"house\", "
                           "nonce=\"[0-9a-f]{32}\"\r\nDate: ")));
    EXPECT_NE(std::string::npos,
              answer.find("Content-Length: " + std::to_string(page.size()) +
                          "\r\n\r\n"));
    EXPECT_EQ(page, Body(answer));
  }
  // The page goes with the challenge only: served pages are untouched.
  EXPECT_EQ(Ok("hello"), AskAs("alice", "wonder", "/secret"));
}

TEST_F(WebServerTest, AliasesAndBrokenDefinitions) {
  Start(
      "[webpage /]\nalias_for = /home\n"
      "[webpage /home]\ntype = page\npublic = yes\ncontent = at home\n"
      "[webpage /ping]\nalias_for = /pong\n"
      "[webpage /pong]\nalias_for = /ping\n"
      "[webpage /odd]\ntype = Page\npublic = yes\ncontent = x\n"
      "[webpage /empty]\ntype = command\npublic = yes\n"
      "[webpage /nofile]\ntype = file\npublic = yes\n"
      "[webpage /untyped]\npublic = yes\ncontent = x\n");
  EXPECT_EQ(Ok("at home"), Ask("GET", "/"));

  EXPECT_EQ("HTTP/1.1 404 Not found", Status(Ask("GET", "/ping")));
  // The 20th alias_for met is the one back to /ping.
  EXPECT_EQ(1, CountLog("config. err: too many redirections for /ping"));

  EXPECT_EQ("HTTP/1.1 404 Not found", Status(Ask("GET", "/odd")));
  EXPECT_TRUE(log_.Contains("conf. error: page type ``Page'' not supported"));
  EXPECT_EQ("HTTP/1.1 404 Not found", Status(Ask("GET", "/empty")));
  EXPECT_TRUE(log_.Contains("conf. error: no content for /empty"));
  EXPECT_EQ("HTTP/1.1 404 Not found", Status(Ask("GET", "/nofile")));
  EXPECT_TRUE(log_.Contains("conf. error: no path for /nofile"));

  log_.Clear();
  EXPECT_EQ("HTTP/1.1 404 Not found", Status(Ask("GET", "/untyped")));
  EXPECT_EQ(
      std::vector<std::string>({"webserver: request for [/untyped] method GET",
                                "webserver: not found, aborting session"}),
      log_.Lines());
}

TEST_F(WebServerTest, FilePages) {
  log_.Dir().Write("logo.bin",
                   std::string("\x89PNG\0\r\n", 7) + std::string(3000, 'z'));
  std::string file = log_.Dir().File("logo.bin");
  std::string missing = log_.Dir().File("missing.css");
  Start(
      "[webpage /logo]\ntype = file\npublic = yes\nmimetype = image/png\npath "
      "= " +
      file + "\n[webpage /gone]\ntype = file\npublic = yes\npath = " + missing +
      "\n[webpage /dir]\ntype = file\npublic = yes\npath = " +
      log_.Dir().Path() + "\n");
  EXPECT_EQ(Ok(log_.Dir().Read("logo.bin"), "image/png"), Ask("GET", "/logo"));

  std::string answer = Ask("GET", "/gone");
  EXPECT_EQ("HTTP/1.1 500 Server configuration error", Status(answer));
  EXPECT_TRUE(log_.Contains("webserv: couldn't open " + missing +
                            " (to send for page /gone)"));
  EXPECT_TRUE(
      log_.Contains("webserv: " + missing + ": No such file or directory"));

  answer = Ask("GET", "/dir");
  EXPECT_EQ("HTTP/1.1 500 Server configuration error", Status(answer));
  EXPECT_TRUE(log_.Contains("webserv: reading " + log_.Dir().Path() +
                            ": Is a directory"));
}

TEST_F(WebServerTest, HtmlFragments) {
  Start("[webpage /p]\ntype = page\npublic = yes\ncontent = [%html:x%]\n");
  EXPECT_EQ(Ok("[]"), Ask("GET", "/p"));
  StopWebServer();

  Start(
      "[webpage /p]\ntype = page\npublic = yes\ncontent = "
      "[%html:x%|%html:menu%]\n",
      "html = <b>%sysname%</b>\nhtml:menu = <ul>%html:item%</ul>\n");
  EXPECT_EQ(Ok("[<b>testbox</b>|<ul><b>testbox</b></ul>]"), Ask("GET", "/p"));
}

TEST_F(WebServerTest, SelfIncludingFragmentStops) {
  Start("[webpage /p]\ntype = page\npublic = yes\ncontent = <%html:loop%>\n",
        "html:loop = a%html:loop%%html:loop%\n");
  std::string body = Body(Ask("GET", "/p"));
  // Once the bound is hit the rest of the page gets no more fragments.
  EXPECT_EQ("<" + std::string(WebSubVar::kMaxNesting, 'a') + ">", body);
  EXPECT_EQ(1,
            CountLog("conf. error: html fragment ``loop'' nested too deeply"));
  // The next page starts with a fresh bound.
  Ask("GET", "/p");
  EXPECT_EQ(2,
            CountLog("conf. error: html fragment ``loop'' nested too deeply"));
}

TEST_F(WebServerTest, RestartDropsConnectionsAndWebSessions) {
  Start(
      "[webpage /x]\ntype = page\npublic = yes\ncontent = one\n"
      "[webpage /secret]\ntype = page\ncontent = two\n");
  EXPECT_EQ("HTTP/1.1 401 Authorization Required",
            Status(Ask("GET", "/secret")));
  EXPECT_EQ(1, TheWebServer()->LiveSessions());
  TestPeer idle;
  ASSERT_TRUE(idle.Connect(port_));
  ASSERT_TRUE(
      loop_.RunUntil([&] { return TheWebServer()->SessionCount() == 1; }));

  StartWebServer(&selector_);
  ASSERT_NE(nullptr, TheWebServer());
  EXPECT_EQ(0, TheWebServer()->LiveSessions());
  EXPECT_TRUE(loop_.RunUntil([&] { return idle.Poll(); }));
  port_ = TheWebServer()->BoundPort();
  EXPECT_EQ(Ok("one"), Ask("GET", "/x"));
}

}  // namespace
