// Events: ProcessEvent handles one event line, its actions, transitions
// (through SetState) and subevents.
#ifndef HOVANTRA_FSM_EVENTS_H
#define HOVANTRA_FSM_EVENTS_H

#include "util/script_variable.h"

// Events raise events (subevents, !activity and !ready from actions).  A
// configuration in which an event reaches itself would recurse until the
// stack runs out, so an event nested deeper than this is logged as
// "Event ``%s'' nested too deeply (limit %d), ignored" and not processed.
// The outermost event (from a board, a command or a timer) is depth 1.
const int kMaxEventDepth = 32;
// An event that raises itself twice stays within that depth but would still
// run for ever (2^32 events), so one outermost event and everything it
// raises may process at most this many events; the rest are dropped with
// one "Events after ``%s'' dropped: more than %d raised by one event" line.
// The bound leaves room for long flat subevents lists while a doubling
// chain stops after 14 levels.
const int kMaxEventsPerCause = 10000;

// line: the event name followed by argument words.
void ProcessEvent(const ScriptVariable &line);

// Told of each event line ProcessEvent takes on (within the limits above),
// before its actions run; nullptr: nobody.  A single listener keeps this
// layer unaware of who reports events further on.
using EventObserver = void (*)(const ScriptVariable &line);
void SetEventObserver(EventObserver observer);

#endif
