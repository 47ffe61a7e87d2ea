#include "web/authenticated_session.h"

#include "web/page_serving.h"
#include "web/web_connection.h"
#include "web/web_server.h"

LongWebSession::LongWebSession(WebServer *server)
    : OVKWebSession(server), web_server_(server) {}

void LongWebSession::HandleRequest(OVKHttpServerSession *session,
                                   OVKHttpRequestParser &request,
                                   OVKHttpMessage & /*response*/,
                                   const ScriptVariable & /*user*/) {
  // Every HTTP session of the web server is one of ours.
  ServePage(static_cast<HttpServerSession *>(session), request);
}
