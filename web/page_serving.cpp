#include "web/page_serving.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "actions/command_processor.h"
#include "core/log.h"
#include "core/log_text.h"
#include "web/web_connection.h"
#include "web/web_variables.h"

static void SetBody(OVKHttpMessage &response, const ScriptVariable &text) {
  response.Body().Erase();
  response.Body().AddData(text.c_str(), static_cast<int>(text.Length()));
}

static void ServeTemplate(HttpServerSession *session) {
  const WebPage &page = session->Page();
  session->SetStatus(200, "OK");
  session->AddHeader("Content-Type", page.mimetype);
  SetBody(session->Response(), ExpandWebTemplate(page.content));
  session->SendResponse();
}

static void ServeFile(HttpServerSession *session) {
  const WebPage &page = session->Page();
  const char *file = page.path.c_str();
  int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    LogMessage("webserv: couldn't open %s (to send for page %s)", file,
               LogSafe(session->Path()).c_str());
    LogMessage("webserv: %s: %s", file, strerror(error));
    session->SendError(500, "Server configuration error", nullptr, true);
    return;
  }
  OVKBuffer &body = session->Response().Body();
  char piece[8192];
  for (;;) {
    ssize_t got = read(fd, piece, sizeof piece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      LogMessage("webserv: reading %s: %s", file, strerror(errno));
      session->SendError(500, "Server configuration error", nullptr, true);
      close(fd);
      return;
    }
    if (got == 0) break;
    body.AddData(piece, static_cast<int>(got));
  }
  session->SetStatus(200, "OK");
  session->AddHeader("Content-Type", page.mimetype);
  session->SendResponse();
  close(fd);
}

ScriptVariable FormCommandLine(const HttpFormFields &fields) {
  for (const auto &field : fields)
    if (field.first == "command") return field.second;
  ScriptVariable line;
  for (int n = 0;; n++) {
    ScriptVariable name = ScriptFormat("cmd%d", n);
    const ScriptVariable *value = nullptr;
    for (const auto &field : fields) {
      if (field.first == name) {
        value = &field.second;
        break;
      }
    }
    if (value == nullptr) break;
    line += *value;
    line += ' ';
  }
  return line;
}

// The host[:port] part of an absolute URL such as an Origin or Referer.
static ScriptVariable UrlAuthority(const ScriptVariable &url) {
  long scheme_end = url.Find("://");
  if (scheme_end < 0) return ScriptVariable("");
  ScriptVariable rest = url.Range(scheme_end + 3);
  long slash = rest.Find("/");
  return slash < 0 ? rest : rest.Range(0, slash);
}

// A browser that holds the user's credentials sends them with a form that
// any other site makes it post, so a command post is accepted only when the
// page it came from, as the browser names it, is one of ours.  Browsers
// always send Sec-Fetch-Site, even when they hide the Referer; "null" is
// the Origin of sandboxed frames and data: pages, which are nobody's.
// Clients that name no origin (command-line tools) are not browsers acting
// for a third party and are served as before.
bool IsCrossSitePost(const OVKHttpMessage &request) {
  ScriptVariable site = GetHeader(request, "Sec-Fetch-Site");
  if (!site.IsAbsent()) {
    site.Trim(" \t");
    if (site != "same-origin" && site != "none") return true;
  }
  ScriptVariable from = GetHeader(request, "Origin");
  if (!from.IsAbsent()) {
    ScriptVariable origin = from;
    origin.Trim(" \t");
    if (origin == "null") return true;
  } else {
    from = GetHeader(request, "Referer");
  }
  if (from.IsAbsent()) return false;
  ScriptVariable host = GetHeader(request, "Host");
  return host.IsAbsent() || UrlAuthority(from) != host;
}

// A posted form is text: it ends at its first zero byte.
static ScriptVariable FormText(const OVKBuffer &posted) {
  const char *bytes = posted.GetBuffer();
  return ScriptVariable(bytes, strnlen(bytes, posted.Length()));
}

static void ServeCommand(HttpServerSession *session,
                         OVKHttpRequestParser &request) {
  const WebPage &page = session->Page();
  const OVKBuffer &posted = request.Body();
  if (posted.Length() > 0 && IsCrossSitePost(request)) {
    LogMessage("webserver: command post for [%s] from another site refused",
               LogSafe(session->Path()).c_str());
    session->SendError(403, "Forbidden",
                       "Commands are accepted from this site's own pages only",
                       true);
    return;
  }
  session->SetStatus(200, "OK");
  session->AddHeader("Content-Type", page.mimetype);
  if (posted.Length() > 0) {
    HttpFormFields fields = ParseForm(FormText(posted));
    ScriptVariable response;
    ProcessCommand("trusted", FormCommandLine(fields), response);
    CommandResponseText() = response;
    SetBody(session->Response(), ExpandWebTemplate(page.response));
  } else {
    SetBody(session->Response(), ExpandWebTemplate(page.content));
  }
  session->SendResponse();
}

void ServePage(HttpServerSession *session, OVKHttpRequestParser &request) {
  const ScriptVariable &type = session->Page().type;
  if (type == "page") {
    ServeTemplate(session);
  } else if (type == "file") {
    ServeFile(session);
  } else if (type == "command") {
    ServeCommand(session, request);
  }
}
