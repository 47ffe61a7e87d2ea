// The web page engine: the substitution engine of every web template.  It
// knows the system variables, %cmdresponse% (the answer of the last command
// run from any command page) and %html:NAME% (a configured fragment,
// itself expanded).  Later additions are asked first.
#ifndef HOVANTRA_WEB_WEB_VARIABLES_H
#define HOVANTRA_WEB_WEB_VARIABLES_H

#include "subst/substitution.h"
#include "util/script_variable.h"

// Built on first use.
ScriptSubstitution &WebPageEngine();
ScriptVariable ExpandWebTemplate(const ScriptVariable &text);
// Empty at program start; kept for the whole run.
ScriptVariable &CommandResponseText();
// Forgets the engine and the command response; for tests.
void ResetWebPageEngine();

// %html:NAME%: the webserver key html:NAME, or plain html, expanded again
// with the web page engine; the empty text when neither is set.  Fragments
// that include themselves stop at kMaxNesting levels with one log line.
class WebSubVar : public ScriptSubstitution::Var {
 public:
  static const int kMaxNesting = 8;
  ScriptVariable Lookup(const char *name, int len) override;
};

#endif
