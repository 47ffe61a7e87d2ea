#include "daemon/command_line.h"

#include <cstdio>
#include <cstring>

#include "core/log.h"

static void PrintUsage() {
  puts("hovantra vers. 1.65 -- automation and alarm controller");
  puts("usage: hovantra <options>");
  puts("  options:  -c <file>       set the configuration file");
  puts("            -l <file>       set the log file");
  puts("            -f              (foreground) don't daemonize");
}

bool ParseCommandLine(int argc, char **argv, StartupSettings &s) {
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    const char *error = nullptr;
    if (strcmp(arg, "-c") == 0) {
      if (i + 1 < argc)
        s.config_path = argv[++i];
      else
        error = "``-c'' requires parameter";
    } else if (strcmp(arg, "-l") == 0) {
      if (s.log_given)
        error = "duplicate ``-l''";
      else if (i + 1 < argc) {
        OpenLogFile(argv[++i]);
        s.log_given = true;
      } else {
        error = "``-l'' requires parameter";
      }
    } else if (strcmp(arg, "-f") == 0) {
      s.daemon = false;
    } else {
      PrintUsage();
      fflush(stdout);
      LogMessage("unknown key ``%s''", arg);
      return false;
    }
    if (error) {
      PrintUsage();
      fflush(stdout);
      LogMessage("%s", error);
      return false;
    }
  }
  return true;
}
