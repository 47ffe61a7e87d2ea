// Notifications (one SMS text to a list of phones) and event-associated
// shell commands.
#ifndef HOVANTRA_ACTIONS_NOTIFICATIONS_H
#define HOVANTRA_ACTIONS_NOTIFICATIONS_H

#include "util/script_variable.h"

// reference: notification name followed by argument words.
void SendNotification(const ScriptVariable &reference);
// Expands command with the event's words and runs it detached.
void RunEventCommand(const ScriptVariable &command, const ScriptVector &words);

#endif
