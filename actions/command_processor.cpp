#include "actions/command_processor.h"

#include <climits>

#include "actions/actions.h"
#include "actions/command_resolution.h"
#include "actions/password_check.h"
#include "core/event_sink.h"
#include "core/log.h"
#include "core/log_text.h"
#include "devices/devices.h"
#include "subst/substitution.h"
#include "temp/temp_sensors.h"

namespace {

// One command line being interpreted.
struct LineRun {
  ScriptVariable caller;
  ScriptVector words;
  ScriptVariable *response;
  bool trusted;
  bool answer = false;

  long Size() const { return static_cast<long>(words.size()); }
  ScriptVariable Word(long i) const {
    return i >= 0 && i < Size() ? words[i] : ScriptVariable("");
  }
  // Expands text with word i as %0% and the count words after it.
  ScriptVariable Expand(const ScriptVariable &text, long i, long count) {
    long n = count < 0 ? 0 : count;
    if (n >= Size()) n = Size();  // anything past the line is all of it
    return MainSubstitution().Process(text, words, static_cast<int>(i),
                                      static_cast<int>(n + 1));
  }
};

// Runs a built-in &-word; gives false when the rest of the line is to be
// skipped (&e).
bool RunBuiltin(LineRun &run, const ResolvedCommand &cmd, long i, long *count) {
  const char c = cmd.text.Length() > 1 ? cmd.text[1] : '\0';
  *count = (c == 'm' || c == 'p') ? 1 : 0;
  switch (c) {
    case 'a':
      run.answer = true;
      break;
    case 'e':
      return false;
    case 'm':
    case 'p':
      if (i + 1 < run.Size()) {
        run.trusted = CheckPassword(c == 'p' ? run.caller : ScriptVariable(""),
                                    run.words[i + 1]);
      }
      break;
    case 'r':
      if (cmd.response.IsAbsent()) {
        *run.response += devices_report_text();
        *run.response += temp_report_text();
      }
      run.answer = true;
      break;
    default:
      break;
  }
  return true;
}

void RunActions(LineRun &run, const ResolvedCommand &cmd, long i, long count) {
  ScriptVector lines = SplitTokens(cmd.text, "\n", " \t\r");
  for (const ScriptVariable &line : lines) {
    if (line.IsEmpty()) continue;
    LogMessage("** do_single_action(%s, [%s|%s], %ld, %ld)", line.c_str(),
               LogCommandWord(run.words, i).c_str(),
               LogCommandWord(run.words, i + 1).c_str(), i, count);
    ScriptVariable action = run.Expand(line, i, count);
    if (action.HasPrefix("@")) {
      if (!DoAction(action)) {
        *run.response += "Action ``" + action + "'' failed\n";
      }
    } else {
      *run.response += "Invalid action ``" + action + "''\n";
    }
  }
}

void RunEvent(LineRun &run, const ResolvedCommand &cmd, long i, long count) {
  ScriptVariable event = run.Expand(cmd.text, i, count);
  event.Trim(" \t\n\r");
  if (event.IsEmpty()) {
    *run.response += "Empty event (?!); ignored\n";
  } else {
    RaiseEvent(event);
  }
}

}  // namespace

int ProcessCommand(const ScriptVariable &caller, const ScriptVariable &line,
                   ScriptVariable &response) {
  LineRun run;
  run.caller = caller;
  run.words = SplitWords(line);
  run.response = &response;
  run.trusted = caller == "trusted";
  response = "";

  long i = 0;
  while (i < run.Size()) {
    const ScriptVariable &word = run.words[i];
    ResolvedCommand cmd = ResolveCommand(word);
    if (!run.trusted && !cmd.unpriv) {
      LogMessage("Rejecting command %s(%d:%s)/%ld...",
                 LogCommandWord(run.words, i).c_str(),
                 static_cast<int>(cmd.kind), cmd.text.c_str(), cmd.args);
      return 0;
    }
    if (!LogSilenced()) {
      LogMessage("Processing command %s(%d:%s)/%ld...",
                 LogCommandWord(run.words, i).c_str(),
                 static_cast<int>(cmd.kind), cmd.text.c_str(), cmd.args);
    }
    long count = cmd.args;
    bool go_on = true;
    switch (cmd.kind) {
      case kUnknownCommand:
        response += "Unknown cmd " + word + "\n";
        count = 0;
        break;
      case kResponseCommand:
        count = 0;
        break;
      case kBuiltinCommand:
        go_on = RunBuiltin(run, cmd, i, &count);
        break;
      case kActionCommand:
        if (count == -1) count = run.Size() - i;
        RunActions(run, cmd, i, count);
        break;
      case kEventCommand:
        if (count == -1) count = run.Size() - i;
        RunEvent(run, cmd, i, count);
        break;
    }
    if (!cmd.response.IsAbsent()) {
      response += run.Expand(cmd.response, i, count);
    }
    if (!go_on) break;
    if (count > run.Size()) count = run.Size();
    i += 1 + (count < 0 ? 0 : count);
  }

  if (run.trusted && !response.IsEmpty()) return run.answer ? 2 : 1;
  return 0;
}
