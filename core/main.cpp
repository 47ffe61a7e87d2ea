// hovantra: start-up, the main loop, and quit or restart in place.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "actions/command_processor.h"
#include "config/configuration.h"
#include "config/state_file.h"
#include "console/console_server.h"
#include "core/child_process.h"
#include "core/event_selector.h"
#include "core/event_sink.h"
#include "core/log.h"
#include "core/restart.h"
#include "core/watchdog.h"
#include "devices/device_poller.h"
#include "devices/devices.h"
#include "fsm/events.h"
#include "fsm/states.h"
#include "fsm/system_variables.h"
#include "mqtt/mqtt_client.h"
#include "sms/smscmd_poller.h"
#include "subst/substitution.h"
#include "temp/temp_sensors.h"
#include "web/web_server.h"

#ifndef HOVANTRA_BUILDER
#define HOVANTRA_BUILDER "unknown"
#endif

static void PrintUsage() {
  puts("hovantra vers. 1.65 -- automation and alarm controller");
  puts("usage: hovantra <options>");
  puts("  options:  -c <file>       set the configuration file");
  puts("            -l <file>       set the log file");
  puts("            -f              (foreground) don't daemonize");
}

struct StartupSettings {
  ScriptVariable config_path = "hovantra.ini";
  bool log_given = false;
  bool daemon = true;
};

// Parses the command line; false (after the usage and the message) on an
// error.
static bool ParseCommandLine(int argc, char **argv, StartupSettings &s) {
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

static void Daemonize() {
  if (chdir("/") == -1) perror("warning: /");
  int fd = open("/dev/null", O_RDWR);
  if (fd >= 0) {
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    if (fd > 2) close(fd);
  }
  pid_t pid = fork();
  if (pid > 0) _exit(0);
  setsid();
}

int main(int argc, char **argv) {
  StartupSettings settings;
  if (!ParseCommandLine(argc, argv, settings)) return 1;
  RememberStartDirectory();

  if (!LoadConfiguration(settings.config_path)) return 1;
  if (!settings.log_given) OpenLogFile(GeneralLog().c_str());
  LogMessage("START=> Hovantra vers. 1.65 compiled at %s %s by %s", __DATE__,
             __TIME__, HOVANTRA_BUILDER);
  LogMessage("Configuration: %s", settings.config_path.c_str());
  ScriptVariable name = ConfigString("general", nullptr, "name");
  LogMessage("System name: %s", name.IsEmpty() ? "*NONAME*" : name.c_str());
  OpenStateFile(GeneralStateFile());

  ScriptVariable program_path = AbsoluteProgramPath(argv[0]);
  if (settings.daemon) Daemonize();
  // A peer that has gone must never kill the daemon; its write just fails.
  signal(SIGPIPE, SIG_IGN);

  SetEventSink(ProcessEvent);
  RegisterSystemVariables(MainSubstitution());
  temp_sensors_configure();

  OVKEventSelector *selector = new OVKEventSelector;
  OVKChildWaitAgent *agent = new OVKChildWaitAgent;
  agent->Attach(selector);
  SetChildWaitAgent(agent);

  devices_configure();
  InitStateMachines(selector);
  LogMessage("starting in the mode %s", CurrentStatesText().c_str());
  temp_sensors_start();

  DevicePoller *device_poller = new DevicePoller(selector, 500, 5, 13);
  StartConsole(selector);
  StartWebServer(selector);
  StartMqtt(selector);
  SmscmdPoller *sms_poller = new SmscmdPoller(selector, 1000, ProcessCommand);
  StartWatchdog(selector, GeneralWatchdog());
  SetActionEventLoop(selector);

  selector->Go();

  if (RestartRequested()) RestartInPlace(argv, program_path);
  delete sms_poller;
  delete device_poller;
  delete agent;
  delete selector;
  return 0;
}
