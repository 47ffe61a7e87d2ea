// Reading one state section into a StateConfig.
#include "config/configuration.h"
#include "core/log.h"
#include "fsm/states.h"

namespace {

// Both values of "a:b", each a number with the radix taken from its prefix.
// A negative time would make the blinker's timer due on every pass of the
// loop, so it is refused.
bool ParseLamp(const ScriptVariable &value, int &on, int &off) {
  if (value == "on") {
    on = 1;
    off = 0;
    return true;
  }
  if (value == "off") {
    on = 0;
    off = 0;
    return true;
  }
  ScriptVector tokens = SplitTokens(value, ":", " \t\n");
  if (tokens.size() != 2) return false;
  return tokens[0].GetInt(on, 0) && tokens[1].GetInt(off, 0) && on >= 0 &&
         off >= 0;
}

bool ParseSound(ScriptVariable value, int &mode) {
  value.Trim(" \t\n\r").Tolower();
  if (value.IsEmpty()) mode = 0;
  else if (value == "off") mode = 1;
  else if (value == "on") mode = 2;
  else if (value == "withlamp") mode = 3;
  else if (value == "against") mode = 4;
  else return false;
  return true;
}

}  // namespace

bool ReadStateConfig(const ScriptVariable &name, StateConfig &config) {
  config = StateConfig();

  ScriptVariable lamp = StateKey(name, "lamp");
  if (!lamp.IsEmpty() &&
      !ParseLamp(lamp, config.lamp_on, config.lamp_off)) {
    LogMessage("Incorrect lamp timing for state ``%s''", name.c_str());
    return false;
  }

  ScriptVariable sound = StateKey(name, "sound");
  if (!sound.IsEmpty() && !ParseSound(sound, config.sound_mode)) {
    sound.Trim(" \t\n\r").Tolower();
    LogMessage("Unknown sound mode ``%s'' for state ``%s''", sound.c_str(),
               name.c_str());
    return false;
  }

  ScriptVariable transit = StateKey(name, "transit");
  if (!transit.IsEmpty()) {
    ScriptVector tokens = SplitTokens(transit, ":", " \t\n");
    if (tokens.size() < 2 || !tokens[0].GetInt(config.transit_delay, 0)) {
      config.transit_delay = -1;
      LogMessage("Incorrect transit spec for state ``%s''", name.c_str());
      return false;
    }
    config.transit_target = tokens[1];
    if (tokens.size() > 2) config.transit_event = tokens[2];
  }

  config.notification = StateKey(name, "notification");
  config.unready = StateKey(name, "unready");
  return true;
}
