// Checks of names that one section gives to another: states, events,
// notifications, output lines and built-in actions.  Texts the daemon
// substitutes before use are skipped, since their final form is unknown.
#ifndef HOVANTRA_TOOLS_CHECK_MACHINE_REFS_H
#define HOVANTRA_TOOLS_CHECK_MACHINE_REFS_H

#include <string>

#include "tools/check/check.h"

// A full state name that should have a state section.
void RequireState(CheckContext &c, const std::string &state, int line,
                  const std::string &where);
// Whether the file names state of machine ("" the default machine).
bool MachineHasState(const CheckContext &c, const std::string &machine,
                     const std::string &state);
// The event of an event line should have an event section.
void RequireEvent(CheckContext &c, const std::string &event_line, int line,
                  const std::string &where);
// The notification of a reference should exist with phones and a message.
void RequireNotification(CheckContext &c, const std::string &reference,
                         int line, const std::string &where);
// An output line switched by name should be defined by a device section.
void RequireOutput(CheckContext &c, const std::string &name, int line,
                   const std::string &where);
// Each line of an action value is a built-in action the daemon can run.
void CheckActions(CheckContext &c, const std::string &value, int line,
                  const std::string &where);

#endif
