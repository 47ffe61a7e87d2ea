// The HTTP request path: the input fed byte by byte to the request parser,
// then sent as one client's request to a server session on a socket pair,
// driven by the event loop until the session closes.  Requests that carry
// an Authorization header, or ask for /private, go through Digest
// authentication, which serves only an answer made for the request target.
// Parsing stops where the raw head crosses its bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "core/event_selector.h"
#include "fuzz/fuzz_support.h"
#include "net/digest_auth.h"
#include "net/http_message.h"
#include "net/http_request_parser.h"
#include "net/http_server_session.h"

namespace {

class Machine : public OVKDigestAuthMachine {
 public:
  explicit Machine(OVKEventSelector *selector)
      : OVKDigestAuthMachine(selector, "home") {}

 protected:
  class Served : public OVKWebSession {
   public:
    explicit Served(Machine *machine) : OVKWebSession(machine) {}
    void HandleRequest(OVKHttpServerSession *session, OVKHttpRequestParser &request,
                       OVKHttpMessage &, const ScriptVariable &user) override {
      // A served answer names this very request target.
      DigestParameters params =
          ParseDigestParameters(GetHeader(request, "Authorization").Range(7));
      FUZZ_CHECK(FindDigestParameter(params, "uri") == session->Target());
      session->SetStatus(200, "OK");
      session->Response().Body().AddString(user.c_str());
      session->SendResponse();
    }
  };
  OVKWebSession *CreateSession(int) override { return new Served(this); }
  ScriptVariable GetPassword(const ScriptVariable &user) override {
    if (user == "admin") return "secret";
    return ScriptVariable::Absent();
  }
};

// A session that belongs to no server: closing only records the fact and
// stops the loop; the driver destroys it.
class Session : public OVKHttpServerSession {
 public:
  Session(int fd, OVKEventSelector *selector, Machine *machine)
      : OVKHttpServerSession(fd, 0, selector, nullptr),
        loop_(selector),
        machine_(machine) {}
  bool closed = false;
  int requests = 0;

 protected:
  void HandleRequest(OVKHttpRequestParser &request) override {
    requests++;
    if (!GetHeader(request, "Authorization").IsAbsent() ||
        Path().HasPrefix("/private")) {
      machine_->Authenticate(this, request, Response());
      return;
    }
    const OVKBuffer &body = request.Body();
    ScriptVariable text(std::string(body.GetBuffer(), body.Length()));
    SetStatus(200, "OK");
    AddHeader("Content-Type", "text/plain");
    for (const auto &field : ParseForm(text)) {
      Response().Body().AddString(field.first.c_str());
      Response().Body().AddChar('=');
      Response().Body().AddString(field.second.c_str());
      Response().Body().AddChar('\n');
    }
    SendResponse();
  }
  void HandleClosed() override {
    closed = true;
    loop_->Break();
  }

 private:
  OVKEventSelector *loop_;
  Machine *machine_;
};

// Runs the loop pass by pass, reading what the session answers, and stops
// it after a fixed number of passes should the session never close.
class Driver : public OVKTimeoutHandler {
 public:
  Driver(OVKEventSelector *selector, int client) : selector_(selector), client_(client) {}
  std::string answer;
  void Run() {
    Arm();
    selector_->Go();
    selector_->RemoveTimeout(this);
    Drain();
  }
  void TimeoutHandle() override {
    Drain();
    if (++passes_ >= 200) {
      selector_->Break();
      return;
    }
    Arm();
  }

 private:
  void Arm() {
    SetFromNow(0, 0);
    selector_->RegisterTimeout(this);
  }
  void Drain() {
    char buf[4096];
    ssize_t n;
    while ((n = recv(client_, buf, sizeof buf, MSG_DONTWAIT)) > 0) answer.append(buf, n);
  }
  OVKEventSelector *selector_;
  int client_;
  int passes_ = 0;
};

void ParseByteByByte(const uint8_t *data, size_t size) {
  OVKHttpRequestParser parser;
  int body_bytes = 0;
  for (size_t i = 0; i < size; i++) {
    if (parser.HeadComplete()) body_bytes++;
    parser.Feed(data[i]);
    FUZZ_CHECK(parser.State() >= OVKHttpRequestParser::kBeforeRequest &&
               parser.State() <= OVKHttpRequestParser::kBody);
  }
  // Every byte after the head is body, and nothing else is.
  FUZZ_CHECK(parser.Body().Length() == body_bytes);
  FUZZ_CHECK(parser.HeadSize() >= 0 && static_cast<size_t>(parser.HeadSize()) <= size);
  // Every byte is either head or body.
  FUZZ_CHECK(static_cast<size_t>(parser.RawHeadSize() + body_bytes) == size);
  FUZZ_CHECK(parser.HeadSize() <= parser.RawHeadSize());
  if (parser.RequestLineComplete()) FUZZ_CHECK(!parser.StartLine().IsAbsent());
  for (int i = 0; i < parser.HeaderCount(); i++) {
    FUZZ_CHECK(!parser.HeaderAt(i).name.IsAbsent());
    FUZZ_CHECK(!parser.HeaderAt(i).value.IsAbsent());
  }
}

void Serve(const uint8_t *data, size_t size) {
  int fds[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0);
  int buffer = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  FUZZ_CHECK(send(fds[1], data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size));
  shutdown(fds[1], SHUT_WR);
  {
    OVKEventSelector selector;
    Machine machine(&selector);
    Session *session = new Session(fds[0], &selector, &machine);
    Driver driver(&selector, fds[1]);
    driver.Run();
    // Input and end of file are both queued, so the session always ends.
    FUZZ_CHECK(session->closed);
    FUZZ_CHECK(session->requests <= 1);
    // Parsing stops at the byte that crosses a bound of the head.
    const OVKHttpRequestParser &request = session->Request();
    FUZZ_CHECK(request.RawHeadSize() <= OVKHttpServerSession::kMaxRawHeadSize + 1);
    FUZZ_CHECK(request.HeaderCount() <= OVKHttpServerSession::kMaxHeaders + 1);
    if (request.RawHeadSize() > OVKHttpServerSession::kMaxRawHeadSize ||
        request.HeaderCount() > OVKHttpServerSession::kMaxHeaders)
      FUZZ_CHECK(session->requests == 0);
    // An answer has a status line, or is the bare form for a request
    // without one.
    const std::string &a = driver.answer;
    FUZZ_CHECK(a.empty() || a.compare(0, 9, "HTTP/1.1 ") == 0 || a.compare(0, 2, "\r\n") == 0);
    delete session;
  }
  close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ParseByteByByte(data, size);
  Serve(data, size);
  return 0;
}
