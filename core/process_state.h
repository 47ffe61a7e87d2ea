// Process-wide state lives in one place per subsystem: the event sink, the
// configuration and state documents, the main substitution engine, the
// sensor list, the board records and the lamp, the activity list, the
// current states, the console and the web server.  Each place registers how
// to put itself back as at program start, so tests have one entry that
// resets the whole process.
#ifndef HOVANTRA_CORE_PROCESS_STATE_H
#define HOVANTRA_CORE_PROCESS_STATE_H

// The folder a piece of state belongs to, bottom up.  Higher layers are
// reset first: their state may rest on what lies below (a state machine's
// timer on the loop, a board record on the simulated bus).
enum class StateLayer {
  kCore,
  kConfig,
  kSubst,
  kSms,
  kTemp,
  kDevices,
  kActions,
  kFsm,
  kConsole,
  kWeb,
};

using StateReset = void (*)();

// Registers reset for ResetProcessState and gives true, so that the file
// holding the state registers it from a namespace-scope constant: whenever
// the state is linked in, so is its reset.
bool RegisterStateReset(StateLayer layer, StateReset reset);

// Runs every registered reset, top layer first.  The log is not part of
// it: a test opens and closes its own (TestLog).
void ResetProcessState();

#endif
