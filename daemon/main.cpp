// hovantra: start-up, the wiring of the seams, the main loop, and quit or
// restart in place.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

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
#include "daemon/command_line.h"
#include "daemon/system_variables.h"
#include "devices/device_poller.h"
#include "devices/devices.h"
#include "fsm/events.h"
#include "fsm/state_machines.h"
#include "fsm/states.h"
#include "mqtt/mqtt_client.h"
#include "sms/smscmd_poller.h"
#include "subst/substitution.h"
#include "temp/temp_sensors.h"
#include "web/web_server.h"
#include "web/web_variables.h"

#ifndef HOVANTRA_BUILDER
#define HOVANTRA_BUILDER "unknown"
#endif

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
  SetWebSharedVariables(RegisterSystemVariables);
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
