// The command line: -c <file> names the configuration, -l <file> opens the
// log at once, -f keeps the daemon in the foreground.
#ifndef HOVANTRA_DAEMON_COMMAND_LINE_H
#define HOVANTRA_DAEMON_COMMAND_LINE_H

#include "util/script_variable.h"

struct StartupSettings {
  ScriptVariable config_path = "hovantra.ini";
  bool log_given = false;
  bool daemon = true;
};

// Parses the command line; false (after the usage and the message) on an
// error.
bool ParseCommandLine(int argc, char **argv, StartupSettings &s);

#endif
