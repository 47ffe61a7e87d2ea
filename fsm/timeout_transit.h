// TimeoutTransit: one armed timed transition of a state (its `transit` key).
//
// All armed transitions form one pending list, newest first; each object
// unlinks itself in its destructor.  At most one per machine is pending,
// the machine being that of the target (text before its first dot), so a
// "heat.on" state with a transition to "pump.off" is cancelled by entering a
// pump state, not a heat state.
#ifndef HOVANTRA_FSM_TIMEOUT_TRANSIT_H
#define HOVANTRA_FSM_TIMEOUT_TRANSIT_H

#include "core/event_selector.h"
#include "util/script_variable.h"

class TimeoutTransit : public OVKTimeoutHandler {
 public:
  // Links itself at the head of the pending list; registering with the
  // loop is the caller's business (ArmTimeoutTransit).
  TimeoutTransit(OVKEventSelector *loop, int delay,
                 const ScriptVariable &target, const ScriptVariable &event);
  ~TimeoutTransit() override;
  TimeoutTransit(const TimeoutTransit &) = delete;
  TimeoutTransit &operator=(const TimeoutTransit &) = delete;

  // Destroys the object, then enters the target and processes the
  // follow-up event (each when not empty).
  void TimeoutHandle() override;

  TimeoutTransit *Next() const { return next_; }
  OVKEventSelector *Loop() const { return loop_; }
  int Delay() const { return delay_; }
  const ScriptVariable &Target() const { return target_; }
  const ScriptVariable &Event() const { return event_; }
  const ScriptVariable &Machine() const { return machine_; }

 private:
  TimeoutTransit *next_;
  OVKEventSelector *loop_;
  int delay_;
  ScriptVariable target_;
  ScriptVariable event_;
  ScriptVariable machine_;
};

// Head of the pending list (newest), or nullptr.
TimeoutTransit *PendingTransits();
// The pending transition of the machine, or nullptr.
TimeoutTransit *FindTimeoutTransit(const ScriptVariable &machine);
// Cancels the newest pending transition of the machine, logging
// "Cancelling timeout-based tranfer to %s"; false when there is none.
bool CancelTimeoutTransit(const ScriptVariable &machine);
// Cancels the machine's older one, then links and registers a new
// transition firing delay whole seconds from now.  A null loop only links
// it (nothing would ever fire it but a direct TimeoutHandle).
void ArmTimeoutTransit(OVKEventSelector *loop, int delay,
                       const ScriptVariable &target,
                       const ScriptVariable &event);
// Removes and destroys every pending transition without logging; for tests
// and resets.
void ClearTimeoutTransits();

#endif
