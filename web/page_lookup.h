// The page of a request path, as the webpage sections describe it.
#ifndef HOVANTRA_WEB_PAGE_LOOKUP_H
#define HOVANTRA_WEB_PAGE_LOOKUP_H

#include "util/script_variable.h"

struct WebPage {
  ScriptVariable type;  // "page", "command" or "file"
  bool is_public = false;
  ScriptVariable content;   // template of a page or command page
  ScriptVariable response;  // template after a posted command
  ScriptVariable path;      // the file of a file page
  ScriptVariable mimetype;
};

// Follows alias_for from the section named name and fills page from the
// section reached.  False for a section without type, for a broken
// definition (logged) and for too many redirections (logged).
bool LookupPage(const ScriptVariable &name, WebPage *page);

#endif
