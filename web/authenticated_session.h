// LongWebSession: the web session of the web interface; a request that
// passed Digest authentication is served from the page its HTTP session
// looked up.
#ifndef HOVANTRA_WEB_AUTHENTICATED_SESSION_H
#define HOVANTRA_WEB_AUTHENTICATED_SESSION_H

#include "net/nonce_session.h"

class WebServer;

class LongWebSession : public OVKWebSession {
 public:
  explicit LongWebSession(WebServer *server);
  void HandleRequest(OVKHttpServerSession *session,
                     OVKHttpRequestParser &request, OVKHttpMessage &response,
                     const ScriptVariable &user) override;

 private:
  WebServer *web_server_;
};

#endif
