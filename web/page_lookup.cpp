#include "web/page_lookup.h"

#include "config/configuration.h"
#include "core/log.h"

bool LookupPage(const ScriptVariable &name, WebPage *page) {
  ScriptVariable section = WebpageResolve(name);
  if (section.IsAbsent()) return false;
  ScriptVariable type = WebpageKey(section, "type");
  if (type.IsEmpty()) return false;
  page->type = type;
  page->mimetype = WebpageKey(section, "mimetype");
  if (page->mimetype.IsEmpty()) page->mimetype = "text/html";
  page->is_public = WebpagePublic(section);
  page->content = ScriptVariable();
  page->response = ScriptVariable();
  page->path = ScriptVariable();
  if (type == "page" || type == "command") {
    ScriptVariable content = WebpageKey(section, "content");
    if (content.IsEmpty()) {
      LogMessage("conf. error: no content for %s", section.c_str());
      return false;
    }
    page->content = content;
    if (type == "command") {
      ScriptVariable response = WebpageKey(section, "response");
      page->response = response.IsEmpty() ? content : response;
    }
  } else if (type == "file") {
    ScriptVariable path = WebpageKey(section, "path");
    if (path.IsEmpty()) {
      LogMessage("conf. error: no path for %s", section.c_str());
      return false;
    }
    page->path = path;
  } else {
    LogMessage("conf. error: page type ``%s'' not supported", type.c_str());
    return false;
  }
  return true;
}
