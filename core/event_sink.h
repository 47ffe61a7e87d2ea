// The one seam through which everything that notices something (input lines,
// temperature watermarks, built-in actions, commands) raises an event line.
// main connects it to the state machines' ProcessEvent; the noticing parts
// thus stay below the state machines in the build.
#ifndef HOVANTRA_CORE_EVENT_SINK_H
#define HOVANTRA_CORE_EVENT_SINK_H

#include "util/script_variable.h"

using EventSink = void (*)(const ScriptVariable &event_line);

// Installs the receiver of event lines (nullptr: events are dropped).
void SetEventSink(EventSink sink);
// Hands one event line (name and argument words) to the receiver.
void RaiseEvent(const ScriptVariable &event_line);

#endif
