// Start-up of the state machines and the loop their timed transitions run
// on.
#ifndef HOVANTRA_FSM_STATE_MACHINES_H
#define HOVANTRA_FSM_STATE_MACHINES_H

class OVKEventSelector;

// Start-up: creates the lamp blinker, restores the saved states (or the
// default state) quietly.
void InitStateMachines(OVKEventSelector *selector);
// The loop given to InitStateMachines (timed transitions are registered
// there), or nullptr before.
OVKEventSelector *StateMachinesLoop();
// Clears the state set and pending timed transitions; for tests.
void ResetStateMachines();

#endif
