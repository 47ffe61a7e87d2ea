#include "web/web_server.h"

#include "config/configuration.h"
#include "core/process_state.h"
#include "web/authenticated_session.h"
#include "web/web_connection.h"
#include "web/web_variables.h"

static WebServer *g_web_server = nullptr;

WebServer::WebServer(const ScriptVariable &ip, int port,
                     OVKEventSelector *selector, const ScriptVariable &realm)
    : OVKTcpServer(ip.c_str(), port),
      OVKDigestAuthMachine(selector, realm),
      selector_(selector) {}

ScriptVariable WebServer::GetPassword(const ScriptVariable &user) {
  return WebserverUserPassword(user);
}

ScriptVariable WebServer::ChallengePage() {
  ScriptVariable page = WebserverP401();
  return page.IsAbsent() ? ScriptVariable() : ExpandWebTemplate(page);
}

OVKTcpServerSession *WebServer::MakeNewSession(int fd) {
  return new HttpServerSession(fd, selector_, this);
}

OVKWebSession *WebServer::CreateSession(int /*index*/) {
  return new LongWebSession(this);
}

void StartWebServer(OVKEventSelector *selector) {
  StopWebServer();
  g_web_server = new WebServer(WebserverIp(), static_cast<int>(WebserverPort()),
                               selector, WebserverRealm());
  g_web_server->Listen(selector, "web server");
}

WebServer *TheWebServer() { return g_web_server; }

void StopWebServer() {
  delete g_web_server;
  g_web_server = nullptr;
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kWeb, StopWebServer);
