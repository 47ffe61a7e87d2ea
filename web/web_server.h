// The web interface: configured pages, files and command pages, with Digest
// authentication for pages that are not public.
#ifndef HOVANTRA_WEB_WEB_SERVER_H
#define HOVANTRA_WEB_WEB_SERVER_H

#include "net/digest_auth.h"
#include "net/tcp_server.h"

class OVKEventSelector;

// Listens on the configured address; its HTTP sessions have a 20-second
// idle timeout and its web sessions serve the pages; users and passwords
// come from the configuration at every request.
class WebServer : public OVKTcpServer, public OVKDigestAuthMachine {
 public:
  WebServer(const ScriptVariable &ip, int port, OVKEventSelector *selector,
            const ScriptVariable &realm);

  // The password of the first `users` entry named exactly user, or absent.
  ScriptVariable GetPassword(const ScriptVariable &user) override;
  // The configured `p401` template, expanded as pages are.
  ScriptVariable ChallengePage() override;

 protected:
  OVKTcpServerSession *MakeNewSession(int fd) override;
  OVKWebSession *CreateSession(int index) override;

 private:
  OVKEventSelector *selector_;
};

// Replaces any existing web server and listens (result not used).
void StartWebServer(OVKEventSelector *selector);
// The running web server, or nullptr.
WebServer *TheWebServer();
// Destroys the web server with its connections and web sessions.
void StopWebServer();

#endif
