#include "web/http_server_session.h"

#include "config/configuration.h"
#include "core/log.h"
#include "core/log_text.h"
#include "web/page_serving.h"
#include "web/web_server.h"
#include "web/web_variables.h"

HttpServerSession::HttpServerSession(int fd, OVKEventSelector *selector,
                                     WebServer *server)
    : OVKHttpServerSession(fd, kIdleTimeout, selector, server),
      web_server_(server) {}

void HttpServerSession::HandleRequest(OVKHttpRequestParser &request) {
  ScriptVariable method = Method();
  method.Toupper();
  if (method != "GET" && method != "POST") {
    AddHeader("Allow", "GET");
    SendError(405, "Method Not Allowed", nullptr, true);
    return;
  }
  // A request for "*" names no page.
  const ScriptVariable &path = Path();
  LogMessage("webserver: request for [%s] method %s",
             path.IsAbsent() ? "*" : LogSafe(path).c_str(),
             LogSafe(Method()).c_str());
  if (path.IsAbsent() || !LookupPage(path, &page_)) {
    LogMessage("webserver: not found, aborting session");
    ScriptVariable body = ExpandWebTemplate(WebserverP404());
    Response().Body().AddData(body.c_str(), static_cast<int>(body.Length()));
    SendError(404, "Not found", nullptr, true);
    return;
  }
  if (page_.is_public) {
    ServePage(this, request);
  } else {
    HandleProtected(request);
  }
}

void HttpServerSession::HandleProtected(OVKHttpRequestParser &request) {
  LogMessage("ZZZ in HandleProtected");
  web_server_->Authenticate(this, request, Response());
}
