// OVKHttpServerSession: one accepted connection carrying one HTTP/1.1
// request and one response.
//
// The head is parsed as the bytes arrive, the body of the declared
// Content-Length is collected, and the complete request goes to
// HandleRequest, which fills Response() and calls SendResponse or SendError.
// After the answer the connection closes once the output is written; bytes
// after the request stay unread (and are drained briefly before the close).  A
// request that never completes ends with the idle timer (Shutdown, so pending
// output still goes out).
//
// Session states: 0 idle, 1 request line, 2 headers, 3 body, 4 request
// complete, 6 closing (answered).
//
// A client cannot hold a connection or memory for ever: the whole request
// (head and declared body) must arrive within kRequestDeadline seconds of
// its first byte, or the connection is closed with the log line
// "HTTP request not complete within %d seconds, closing the connection";
// a head of more than kMaxRawHeadSize bytes (every byte, line ends
// included) or more than kMaxHeaders header lines is answered 413 at once.
#ifndef HOVANTRA_NET_HTTP_SERVER_SESSION_H
#define HOVANTRA_NET_HTTP_SERVER_SESSION_H

#include "net/http_message.h"
#include "net/http_request_parser.h"
#include "net/tcp_server.h"
#include "util/script_variable.h"

class OVKHttpServerSession : public OVKTcpServerSession {
 public:
  enum SessionState {
    kIdle = 0,
    kRequestLine = 1,
    kHeaders = 2,
    kBody = 3,
    kRequestComplete = 4,
    kClosing = 6,
  };
  // Longest head accepted, in counted bytes.
  static const int kMaxHeadSize = 16384;
  // Largest Content-Length accepted; larger bodies are refused with 413
  // before any of their bytes is kept.
  static const int kMaxBodySize = 64 * 1024;
  static const int kMaxRawHeadSize = 32 * 1024;
  static const int kMaxHeaders = 100;
  static const int kRequestDeadline = 30;  // seconds from the first byte

  OVKHttpServerSession(int fd, int idle_timeout_sec, OVKEventSelector *selector,
                       OVKTcpServer *server);
  ~OVKHttpServerSession() override;

  // The response start line becomes "HTTP/1.1 %3d %s".
  void SetStatus(int code, const char *reason);
  void AddHeader(const ScriptVariable &name, const ScriptVariable &value);
  OVKHttpMessage &Response() { return response_; }
  OVKHttpRequestParser &Request() { return request_; }
  // Queues the response and ends the request: state 6, then the connection
  // closes when the output is written.
  void SendResponse();
  // The standard error answer (unless the body was already prepared), with
  // Date, Server, Content-Type and Content-Length appended after the
  // headers added so far; without status line only "\r\n" and the body go
  // out.  A request gets at most one answer: nothing happens in state 6.
  void SendError(int code, const char *reason, const char *text,
                 bool with_status_line);

  int State() const { return state_; }
  // Absent when not (yet) known; the path is decoded and has no query.
  const ScriptVariable &Method() const { return method_; }
  const ScriptVariable &Path() const { return path_; }
  // The request target as received (not decoded, query included); absent
  // when not (yet) known.
  const ScriptVariable &Target() const { return target_; }
  int ContentLength() const { return content_length_; }
  bool PeerSpeaksFirst() const override { return true; }

 protected:
  // Hooks, in slot order.
  virtual void HandleHeader(const ScriptVariable &name,
                            const ScriptVariable &value);
  virtual void HandleBodyData(OVKBuffer & /*body*/) {}
  virtual void HandleBodyComplete(OVKBuffer & /*body*/) {}
  virtual void HandleRequest(OVKHttpRequestParser & /*request*/) {}
  virtual bool AcceptRequestSize(int head_size, int content_length);
  virtual void HandleBadRequest(bool with_status_line);

  void HandleNewInput() override;
  void HandleSessionTimeout() override;
  // A client that half-closes after its request still gets the answer.
  void HandleRemoteClosing() override;
  // Once the answer is out: close gently (see draining_).
  void HandleAllWritten() override;

 private:
  // Fires kRequestDeadline seconds after the first byte of a request that
  // is still incomplete.
  class RequestDeadline : public ::OVKTimeoutHandler {
   public:
    explicit RequestDeadline(OVKHttpServerSession *session)
        : session_(session) {}
    void TimeoutHandle() override;
    void Arm(OVKEventSelector *selector);
    void Disarm();

   private:
    OVKHttpServerSession *session_;
    OVKEventSelector *selector_ = nullptr;  // while armed
  };

  // The request loop over the queued input.
  void ParseInput();
  // False (and 413 sent) when the head has grown past the raw bounds.
  bool CheckRawHead();
  void ParseRequestLine(const ScriptVariable &line);
  void HeaderStep(const ScriptVariable &name, const ScriptVariable &value);
  // False (and 413 sent) when AcceptRequestSize refuses.
  bool CheckRequestSize();

  OVKHttpRequestParser request_;
  OVKHttpMessage response_;
  int state_ = kIdle;
  int headers_handled_ = 0;
  int body_received_ = 0;
  int content_length_ = -1;
  ScriptVariable method_ = ScriptVariable::Absent();
  ScriptVariable path_ = ScriptVariable::Absent();
  ScriptVariable target_ = ScriptVariable::Absent();
  // After the answer went out, the sending side is shut and what the client
  // still sends (a refused body, say) is read and dropped for a short while
  // before the socket is closed.  Closing with unread input makes the
  // kernel reset the connection, which can destroy the answer before the
  // client has read it.
  bool draining_ = false;
  RequestDeadline deadline_{this};
  bool deadline_started_ = false;
  // Draining is needed only when the client may still be sending: the
  // answer came before the request was whole, or bytes followed it.
  bool answered_whole_request_ = false;
  bool last_read_full_ = false;
};

#endif
