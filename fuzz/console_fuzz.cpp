// A console line through the command processor, trusted and untrusted, and
// from a phone, over a small configuration: commands with actions, events
// and responses, aliases (one chain ends in a cycle), the &-words, state
// machines with transitions, timed transitions and events that reach
// themselves.  Every input starts from the same states.  The line as the
// log shows it holds no control byte and no password.
#include <unistd.h>

#include <cstring>
#include <string>

#include "actions/actions.h"
#include "actions/command_processor.h"
#include "config/configuration.h"
#include "config/state_file.h"
#include "core/event_selector.h"
#include "core/event_sink.h"
#include "core/log.h"
#include "core/log_text.h"
#include "devices/lamp_blinker.h"
#include "fsm/events.h"
#include "fsm/states.h"
#include "fsm/system_variables.h"
#include "fuzz/fuzz_support.h"
#include "subst/substitution.h"

namespace {

const char kConfig[] =
    "[general]\n"
    "name = fuzzbox\n"
    "password = gpass\n"
    "defaultstate = security.idle heat.eco\n"
    "[phone +111]\n"
    "password = ppass\n"
    "[phone +222]\n"
    "auth = trusted\n"
    "[variable temp]\n"
    "enable = yes\n"
    "default = 20\n"
    "[command arm]\n"
    "args = 0\n"
    "event = arm\n"
    "response = armed: %state%\n"
    "[command disarm]\n"
    "args = 0\n"
    "event = disarm\n"
    "[command door]\n"
    "args = 1\n"
    "event = door %1%\n"
    "[command busy]\n"
    "args = 1\n"
    "action = @ACT+ %1%\n"
    "[command free]\n"
    "args = 1\n"
    "action = @ACT- %1%\n"
    "+  @act-   %0%  \n"
    "[command set]\n"
    "action = @SET temp %*%\n"
    "response = temp=%?temp%\n"
    "[command lamp]\n"
    "args = 1\n"
    "action = @LN+ %1%\n"
    "+@LN- %1%\n"
    "+not-an-action\n"
    "+@BLINK\n"
    "[command status]\n"
    "args = 0\n"
    "unpriv = Yes\n"
    "response = %state% %sysname% %stateof:security% %date%\n"
    "[command st]\n"
    "alias_for = Status\n"
    "[command loopa]\n"
    "alias_for = loopb\n"
    "response = never\n"
    "[command loopb]\n"
    "alias_for = loopa\n"
    "[command rep]\n"
    "alias_for = &R\n"
    "response = R(%0%)\n"
    "[command ans]\n"
    "alias_for = &a\n"
    "[command empty]\n"
    "event = %5%\n"
    "[command junk]\n"
    "args = x1\n"
    "event = junk %*%\n"
    "[event arm]\n"
    "fsm = security\n"
    "transit = security.idle -> security.armed\n"
    "[event disarm]\n"
    "fsm = security\n"
    "transit = security.* -> security.idle\n"
    "[event door]\n"
    "fsm = security\n"
    "transit:armed = security.armed -> security.alarm\n"
    "subevents:armed = siren %1%\n"
    "action = @ACT+ door_%1%\n"
    "[event siren]\n"
    "subevents = siren again\n"
    "[event junk]\n"
    "transit = no arrow here\n"
    "+security.idle -> heat.on\n"
    "+* -> %1%\n"
    "[event !activity]\n"
    "fsm = heat\n"
    "transit = heat.* -> heat.off\n"
    "[event !ready]\n"
    "fsm = heat\n"
    "transit = heat.off -> heat.eco\n"
    "[state security.armed]\n"
    "lamp = 500:500\n"
    "sound = withlamp\n"
    "unready = security.idle\n"
    "[state security.alarm]\n"
    "lamp = on\n"
    "sound = on\n"
    "transit = 60:security.armed:siren\n"
    "[state heat.on]\n"
    "lamp = 5:x\n";

std::string &StatePath() {
  static std::string path;
  return path;
}

void SetUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::string config = ScratchPath("hovantra.ini");
  WriteWholeFile(config, std::string(kConfig));
  OpenLogFile(ScratchPath("hovantra.log").c_str());
  FUZZ_CHECK(LoadConfiguration(config.c_str()));
  StatePath() = ScratchPath("hovantra.state");
  SetEventSink(&ProcessEvent);
  RegisterSystemVariables(MainSubstitution());
}

// The same states, activities and state file for every input.
void StartOver(OVKEventSelector *loop) {
  ResetActions();
  ResetStateMachines();
  ResetStateFile();
  unlink(StatePath().c_str());
  OpenStateFile(StatePath().c_str());
  InitStateMachines(loop);
  SetActionEventLoop(loop);
  // Keeps the log small and every line of it written.
  if (LogFileNumber() >= 0 && ftruncate(LogFileNumber(), 0) != 0) abort();
  LogResume();
}

// Only &m and &p (no alias of the configuration leads to them) can make
// an untrusted line trusted.
bool MayGainTrust(const ScriptVariable &line) {
  ScriptVariable lower = line;
  lower.Tolower();
  return lower.Str().find("&m") != std::string::npos ||
         lower.Str().find("&p") != std::string::npos;
}

void Run(const char *caller, const ScriptVariable &line) {
  ScriptVariable response = "left over";
  int code = ProcessCommand(caller, line, response);
  FUZZ_CHECK(code >= 0 && code <= 2);
  FUZZ_CHECK(!response.IsAbsent());
  if (code != 0) FUZZ_CHECK(!response.IsEmpty());
  // Nothing is ever answered to an untrusted caller that did not log in.
  if (strcmp(caller, "trusted") != 0 && !MayGainTrust(line)) FUZZ_CHECK(code == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SetUpOnce();
  ScriptVariable line(std::string(reinterpret_cast<const char *>(data), size));
  // As the log shows the line: no control byte, and no word after &p or
  // &m survives.
  ScriptVariable logged = LogCommandLine(line);
  for (size_t i = 0; i < logged.Length(); i++) {
    unsigned char c = static_cast<unsigned char>(logged.Str()[i]);
    FUZZ_CHECK(c >= 0x20 && c != 0x7f);
  }
  ScriptVector words = SplitWords(line);
  for (size_t i = 0; i < words.size(); i++)
    FUZZ_CHECK(LogCommandWord(words, static_cast<long>(i)) ==
               (i > 0 && IsPasswordWord(words[i - 1]) ? ScriptVariable("***")
                                                      : LogSafe(words[i])));
  static const char *const kCallers[] = {"trusted", "", "+111"};
  OVKEventSelector loop;
  for (const char *caller : kCallers) {
    StartOver(&loop);
    Run(caller, line);
  }
  // Nothing may stay registered in a loop that is going away.
  ResetActions();
  ResetStateMachines();
  lamp_blinker_destroy();
  return 0;
}
