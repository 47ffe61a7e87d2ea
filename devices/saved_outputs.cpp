#include "devices/saved_outputs.h"

#include "config/state_file.h"
#include "devices/board_output.h"

void SaveOutput(const ScriptVariable &line, bool on) {
  StoreStateValue("Outputs", nullptr, line.c_str(), on ? "on" : "off");
}

int LoadOutput(const ScriptVariable &line) {
  ScriptVariable v = FetchStateValue("Outputs", nullptr, line.c_str());
  if (v.IsAbsent()) return 0;
  return v.Trim(" \t\n\r").Tolower() == "on" ? kBoardOutputOn : kBoardOutputOff;
}
