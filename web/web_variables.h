// The web page engine: the substitution engine of every web template.  It
// knows the variables shared with every other configured text (handed over
// at start-up), %cmdresponse% (the answer of the last command run from any
// command page) and %html:NAME% (a configured fragment, itself expanded).
// Later additions are asked first.
#ifndef HOVANTRA_WEB_WEB_VARIABLES_H
#define HOVANTRA_WEB_WEB_VARIABLES_H

#include "subst/substitution.h"
#include "util/script_variable.h"

// Adds the variables every configured text knows (the system variables) to
// an engine.  Start-up hands it over, since those variables read subsystems
// the web interface does not depend on.
using SharedVariables = void (*)(ScriptSubstitution &engine);
void SetWebSharedVariables(SharedVariables add);

// Built on first use: the shared variables first, then the web's own.
ScriptSubstitution &WebPageEngine();
ScriptVariable ExpandWebTemplate(const ScriptVariable &text);
// Empty at program start; kept for the whole run.
ScriptVariable &CommandResponseText();
// Forgets the engine, the shared variables and the command response; for
// tests.
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
