// HttpServerSession: one connection of the web interface.  It accepts GET
// and POST, finds the configured page of the path and serves it, through
// Digest authentication unless the page is public.
#ifndef HOVANTRA_WEB_WEB_CONNECTION_H
#define HOVANTRA_WEB_WEB_CONNECTION_H

#include "net/http_server_session.h"
#include "web/page_lookup.h"

class WebServer;

class HttpServerSession : public OVKHttpServerSession {
 public:
  static const int kIdleTimeout = 20;  // seconds

  HttpServerSession(int fd, OVKEventSelector *selector, WebServer *server);

  // The page of the current request, valid once it was looked up.
  const WebPage &Page() const { return page_; }

 protected:
  void HandleRequest(OVKHttpRequestParser &request) override;

 private:
  void HandleProtected(OVKHttpRequestParser &request);

  WebServer *web_server_;
  WebPage page_;
};

#endif
