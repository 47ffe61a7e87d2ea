// Web pages as the daemon looks them up, the files they serve, and the
// %html:NAME% fragments their templates use.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/configuration.h"
#include "tools/check/check.h"
#include "tools/check/text_refs.h"
#include "web/page_lookup.h"

namespace {

void CheckPage(CheckContext &c, const ConfigIndex::Section &s) {
  std::string where = "webpage " + s.name;
  if (c.Value(s, "type").empty() && c.Value(s, "alias_for").empty()) {
    c.findings.Warning(s.line, where + " has no type: it is no page");
    return;
  }
  c.log.Take();
  WebPage page;
  if (!LookupPage(s.name, &page)) {
    std::string said = c.log.TakeText();
    c.findings.Error(s.line, where + " answers 404: " +
                                 (said.empty() ? "its alias leads to no page"
                                               : said));
    return;
  }
  if (page.type == "file" && access(page.path.c_str(), R_OK) != 0) {
    int error = errno;
    c.findings.Error(c.Line(s, "path"), where + " answers 500: " +
                                            page.path.Str() + ": " +
                                            strerror(error));
  }
}

void CheckFragments(CheckContext &c) {
  for (const ConfigIndex::Section &s : c.index.Sections()) {
    if (s.type != "webpage" && s.type != "webserver") continue;
    for (const ConfigIndex::Key &k : s.keys) {
      for (const std::string &ref : References(c.Value(s, k.name))) {
        if (ref.size() <= 5 || ref.compare(0, 5, "html:") != 0) continue;
        if (!WebserverHtml(ref.substr(5)).IsEmpty()) continue;
        c.findings.Warning(k.line, CheckContext::Where(s, k.name) +
                                       " uses %" + ref + "%, but webserver has "
                                       "no " + ref + " (it shows nothing)");
      }
    }
  }
}

}  // namespace

void CheckWebPages(CheckContext &c) {
  for (const ConfigIndex::Section &s : c.index.Sections())
    if (s.type == "webpage") CheckPage(c, s);
  CheckFragments(c);
}
