// Resolving one command word through the `command` sections.
#ifndef HOVANTRA_ACTIONS_COMMAND_RESOLUTION_H
#define HOVANTRA_ACTIONS_COMMAND_RESOLUTION_H

#include "util/script_variable.h"

// What the end of a command's alias chain does.  The number appears in the
// "Processing command" log line.
enum CommandKind {
  kUnknownCommand = 0,   // no action, event or response at the chain's end
  kBuiltinCommand = 1,   // an &-word; text is the word, lower-cased
  kActionCommand = 2,    // text is the `action` value
  kEventCommand = 3,     // text is the `event` value
  kResponseCommand = 4,  // only a response template
};

struct ResolvedCommand {
  CommandKind kind = kUnknownCommand;
  ScriptVariable text;
  long args = -1;
  ScriptVariable response = ScriptVariable::Absent();  // the template
  bool unpriv = false;
};

// At most this many alias_for steps are followed; a longer chain is taken
// for a loop in the configuration and the word counts as unknown.
constexpr int kMaxAliasSteps = 32;

// Follows alias_for from word (names compared in lower case).  The first
// response found on the chain wins, unpriv = yes anywhere allows the
// command, and args, action and event come from the last section.
ResolvedCommand ResolveCommand(const ScriptVariable &word);

#endif
