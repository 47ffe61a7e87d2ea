#include "fsm/timeout_transit.h"

#include "core/log.h"
#include "fsm/events.h"
#include "fsm/set_state.h"
#include "fsm/states.h"

namespace {
TimeoutTransit *pending_head = nullptr;

void Discard(TimeoutTransit *t) {
  if (t->Loop()) t->Loop()->RemoveTimeout(t);
  delete t;
}
}  // namespace

TimeoutTransit::TimeoutTransit(OVKEventSelector *loop, int delay,
                               const ScriptVariable &target,
                               const ScriptVariable &event)
    : next_(pending_head),
      loop_(loop),
      delay_(delay),
      target_(target),
      event_(event),
      machine_(MachineOf(target)) {
  pending_head = this;
}

TimeoutTransit::~TimeoutTransit() {
  for (TimeoutTransit **p = &pending_head; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
}

void TimeoutTransit::TimeoutHandle() {
  ScriptVariable target = target_;
  ScriptVariable event = event_;
  delete this;
  if (!target.IsEmpty()) SetState(target, false);
  if (!event.IsEmpty()) ProcessEvent(event);
}

TimeoutTransit *PendingTransits() { return pending_head; }

TimeoutTransit *FindTimeoutTransit(const ScriptVariable &machine) {
  for (TimeoutTransit *t = pending_head; t; t = t->Next()) {
    if (t->Machine() == machine) return t;
  }
  return nullptr;
}

bool CancelTimeoutTransit(const ScriptVariable &machine) {
  TimeoutTransit *t = FindTimeoutTransit(machine);
  if (!t) return false;
  LogMessage("Cancelling timeout-based tranfer to %s", t->Target().c_str());
  Discard(t);
  return true;
}

void ArmTimeoutTransit(OVKEventSelector *loop, int delay,
                       const ScriptVariable &target,
                       const ScriptVariable &event) {
  CancelTimeoutTransit(MachineOf(target));
  TimeoutTransit *t = new TimeoutTransit(loop, delay, target, event);
  t->SetFromNow(delay, 0);
  if (loop) loop->RegisterTimeout(t);
}

void ClearTimeoutTransits() {
  while (pending_head) Discard(pending_head);
}
