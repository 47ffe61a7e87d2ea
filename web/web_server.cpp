#include "web/web_server.h"

#include "config/configuration.h"
#include "web/http_server_session.h"
#include "web/long_web_session.h"

static WebServer *g_web_server = nullptr;

WebServer::WebServer(const ScriptVariable &ip, int port,
                     OVKEventSelector *selector, const ScriptVariable &realm)
    : OVKTcpServer(ip.c_str(), port),
      OVKDigestAuthMachine(selector, realm),
      selector_(selector) {}

ScriptVariable WebServer::GetPassword(const ScriptVariable &user) {
  return WebserverUserPassword(user);
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
