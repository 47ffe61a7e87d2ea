#include "net/http_server_session.h"

#include <sys/socket.h>

#include <climits>
#include <ctime>
#include <string>

#include "core/log.h"

static const char kServerName[] = "Another ugly server created with OVK";
static const char kErrorContentType[] = "text/html; charset=iso-8859-1";

// Blanks of the request line.
static bool IsLineBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Optional sign, then digits and nothing else.  Values beyond int are
// clamped, which the size check then refuses.
static bool ParseContentLength(const ScriptVariable &text, int *value) {
  const std::string &s = text.Str();
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    i++;
  }
  if (i == s.size()) return false;
  long long v = 0;
  for (; i < s.size(); i++) {
    if (s[i] < '0' || s[i] > '9') return false;
    if (v <= INT_MAX) v = v * 10 + (s[i] - '0');
  }
  if (v > INT_MAX) v = INT_MAX;
  *value = static_cast<int>(negative ? -v : v);
  return true;
}

OVKHttpServerSession::OVKHttpServerSession(int fd, int idle_timeout_sec,
                                           OVKEventSelector *selector,
                                           OVKTcpServer *server)
    : OVKTcpServerSession(fd, idle_timeout_sec, selector, server) {}

OVKHttpServerSession::~OVKHttpServerSession() { deadline_.Disarm(); }

void OVKHttpServerSession::RequestDeadline::Arm(OVKEventSelector *selector) {
  selector_ = selector;
  SetFromNow(kRequestDeadline, 0);
  selector_->RegisterTimeout(this);
}

void OVKHttpServerSession::RequestDeadline::Disarm() {
  if (selector_ != nullptr) selector_->RemoveTimeout(this);
  selector_ = nullptr;
}

void OVKHttpServerSession::RequestDeadline::TimeoutHandle() {
  selector_ = nullptr;  // a fired timer is no longer registered
  LogMessage(
      "HTTP request not complete within %d seconds, closing the "
      "connection",
      kRequestDeadline);
  session_->Close();  // destroys the session and this timer with it
}

void OVKHttpServerSession::SetStatus(int code, const char *reason) {
  response_.SetStartLine(ScriptFormat("HTTP/1.1 %3d %s", code % 1000, reason));
}

void OVKHttpServerSession::AddHeader(const ScriptVariable &name,
                                     const ScriptVariable &value) {
  response_.AddHeader(name, value);
}

static void AddLine(OVKBuffer &out, const ScriptVariable &text) {
  out.AddData(text.c_str(), static_cast<int>(text.Length()));
  if (!text.HasSuffix("\r")) out.AddChar('\r');
  out.AddChar('\n');
}

void OVKHttpServerSession::SendResponse() {
  outbuf_.Erase();
  if (!response_.StartLine().IsAbsent())
    AddLine(outbuf_, response_.StartLine());
  for (int i = 0; i < response_.HeaderCount(); i++) {
    const OVKHttpMessage::Header &h = response_.HeaderAt(i);
    outbuf_.AddData(h.name.c_str(), static_cast<int>(h.name.Length()));
    outbuf_.AddString(": ");
    AddLine(outbuf_, h.value);
  }
  outbuf_.AddString("\r\n");
  const OVKBuffer &body = response_.Body();
  outbuf_.AddData(body.GetBuffer(), body.Length());
  answered_whole_request_ = state_ == kRequestComplete;
  state_ = kClosing;
  Shutdown();  // the output is never empty here, so this session lives on
}

static ScriptVariable HttpDate() {
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  char text[64];
  strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return ScriptVariable(text);
}

void OVKHttpServerSession::SendError(int code, const char *reason,
                                     const char *text, bool with_status_line) {
  if (state_ == kClosing) return;
  if (reason == nullptr) reason = "Error";
  OVKBuffer &body = response_.Body();
  if (body.Length() == 0) {
    if (text == nullptr) text = reason;
    body.AddString(
        "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n"
        "<HTML><HEAD><TITLE>\n");
    ScriptVariable rest = ScriptFormat(
        "%3d %s</TITLE></HEAD><BODY><H1>%s</H1><P>%s</P></BODY></HTML>\n",
        code % 1000, reason, reason, text);
    body.AddString(rest.c_str());
  }
  if (with_status_line) {
    SetStatus(code, reason);
    AddHeader("Date", HttpDate());
    AddHeader("Server", kServerName);
    AddHeader("Content-Type", kErrorContentType);
    AddHeader("Content-Length", ScriptFormat("%d", body.Length()));
  } else {
    response_.ClearHead();
  }
  SendResponse();
}

void OVKHttpServerSession::HandleHeader(const ScriptVariable &name,
                                        const ScriptVariable & /*value*/) {
  if (name == "Expect") SendError(417, "Expectation failed", nullptr, true);
}

bool OVKHttpServerSession::AcceptRequestSize(int head_size,
                                             int content_length) {
  return head_size <= kMaxHeadSize && content_length <= kMaxBodySize;
}

void OVKHttpServerSession::HandleBadRequest(bool with_status_line) {
  SendError(400, "Bad Request", "I don't understand you", with_status_line);
}

// How long a closing connection is drained at most.
static const int kDrainSeconds = 2;

void OVKHttpServerSession::HandleAllWritten() {
  if (state_ != kClosing || draining_) return;
  // A client that sent one whole request and nothing after it has nothing
  // left to send: the connection closes now (close_when_drained_).
  if (answered_whole_request_ && inbuf_.Length() == 0 && !last_read_full_)
    return;
  draining_ = true;
  shutdown(GetFd(), SHUT_WR);
  close_when_drained_ = false;
  reading_enabled_ = true;
  restart_timer_on_input_ = false;  // a client that keeps sending is cut off
  idle_sec_ = kDrainSeconds;
  RestartIdleTimer();
}

void OVKHttpServerSession::HandleSessionTimeout() {
  if (draining_)
    Close();
  else
    Shutdown();
}

void OVKHttpServerSession::HandleRemoteClosing() {
  if (draining_) {
    Close();
    return;
  }
  if (state_ == kClosing && outbuf_.Length() > 0) {
    // End of file stays readable; stop reading so the answer can be written.
    reading_enabled_ = false;
    Shutdown();
    return;
  }
  Close();
}

bool OVKHttpServerSession::CheckRequestSize() {
  if (AcceptRequestSize(request_.HeadSize(), content_length_)) return true;
  SendError(413, "Request Entity Too Large", nullptr, true);
  return false;
}

void OVKHttpServerSession::HeaderStep(const ScriptVariable &name,
                                      const ScriptVariable &value) {
  if (name == "Content-Length") {
    int length;
    if (!ParseContentLength(value, &length)) {
      SendError(400, nullptr, nullptr, true);
      return;
    }
    content_length_ = length;
    if (!CheckRequestSize()) return;
  }
  HandleHeader(name, value);
}

void OVKHttpServerSession::ParseRequestLine(const ScriptVariable &line) {
  // The line is text: a zero byte ends it.
  const std::string s(line.c_str());
  size_t n = s.size();
  size_t i = 0;
  while (i < n && IsLineBlank(s[i])) i++;
  size_t method_end = i;
  while (method_end < n && !IsLineBlank(s[method_end])) method_end++;
  if (method_end == i) {
    HandleBadRequest(false);
    return;
  }
  method_ = ScriptVariable(s.substr(i, method_end - i));
  path_ = ScriptVariable::Absent();
  target_ = ScriptVariable::Absent();

  size_t target_start = method_end;
  while (target_start < n && IsLineBlank(s[target_start])) target_start++;
  size_t end = n;
  while (end > target_start && IsLineBlank(s[end - 1])) end--;
  size_t last_word = end;
  while (last_word > target_start && !IsLineBlank(s[last_word - 1]))
    last_word--;
  size_t target_end = end;
  if (last_word > target_start) {  // the last word is the version
    target_end = last_word;
    while (target_end > target_start && IsLineBlank(s[target_end - 1]))
      target_end--;
  }
  std::string target = s.substr(target_start, target_end - target_start);
  target_ = ScriptVariable(target);
  if (target == "*") return;

  std::string path;
  if (!target.empty() && target[0] == '/') {
    path = target;
  } else {
    size_t scheme = target.find("://");
    if (scheme == std::string::npos) {
      SendError(400, nullptr, nullptr, true);
      return;
    }
    size_t slash = target.find('/', scheme + 3);
    path = slash == std::string::npos ? "/" : target.substr(slash);
  }
  size_t query = path.find('?');
  if (query != std::string::npos) path.resize(query);
  path_ = HttpDecode(path);
}

bool OVKHttpServerSession::CheckRawHead() {
  if (request_.RawHeadSize() <= kMaxRawHeadSize &&
      request_.HeaderCount() <= kMaxHeaders)
    return true;
  SendError(413, "Request Entity Too Large", nullptr, true);
  return false;
}

void OVKHttpServerSession::HandleNewInput() {
  if (draining_) {
    inbuf_.Erase();
    return;
  }
  // Blank lines and blanks in a header name cost a client nothing, so the
  // idle timer alone cannot end a request that never completes.
  if (!deadline_started_ && inbuf_.Length() > 0 && GetSelector() != nullptr) {
    deadline_started_ = true;
    deadline_.Arm(GetSelector());
  }
  ParseInput();
  if (state_ == kRequestComplete || state_ == kClosing) deadline_.Disarm();
}

void OVKHttpServerSession::ParseInput() {
  int length = inbuf_.Length();
  // Only the bytes of this read are queued: what came before was consumed.
  // A full read may have left more in the socket.
  last_read_full_ = length >= kReadChunk;
  bool body_arrived = false;
  for (int i = 0; i < length; i++) {
    if (state_ == kRequestComplete || state_ == kClosing) {
      inbuf_.DropData(i);
      reading_enabled_ = false;
      return;
    }
    unsigned char c = static_cast<unsigned char>(inbuf_.GetBuffer()[i]);
    request_.Feed(c);
    if (!CheckRawHead()) continue;  // answered: the next byte stops the loop
    switch (state_) {
      case kIdle:
        if (c != '\n' && c != ' ' && c != '\t' && c != '\r')
          state_ = kRequestLine;
        break;
      case kRequestLine:
        if (request_.RequestLineComplete()) {
          ParseRequestLine(request_.StartLine());
          if (state_ != kClosing) state_ = kHeaders;
        }
        break;
      case kHeaders:
        if (request_.HeaderCount() > headers_handled_) {
          const OVKHttpMessage::Header &h =
              request_.HeaderAt(request_.HeaderCount() - 1);
          headers_handled_ = request_.HeaderCount();
          HeaderStep(h.name, h.value);
          if (state_ == kClosing) break;
        }
        if (request_.HeadComplete()) {
          if (content_length_ > 0) {
            state_ = kBody;
            body_received_ = 0;
          } else {
            state_ = kRequestComplete;
            HandleRequest(request_);
          }
        }
        break;
      case kBody:
        body_arrived = true;
        body_received_++;
        if (body_received_ >= content_length_) {
          state_ = kRequestComplete;
          body_arrived = false;
          HandleBodyData(request_.Body());
          HandleBodyComplete(request_.Body());
          HandleRequest(request_);
        }
        break;
      default:
        break;
    }
  }
  inbuf_.Erase();
  if (body_arrived && state_ == kBody) HandleBodyData(request_.Body());
  CheckRequestSize();
}
