// Shared set-up of the state machine tests: a temporary directory with a
// configuration, a log and a state file, and events routed back into
// ProcessEvent.
#ifndef HOVANTRA_FSM_FSM_TEST_SUPPORT_H
#define HOVANTRA_FSM_FSM_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/event_selector.h"
#include "util/script_variable.h"

class FsmTest : public ::testing::Test {
 protected:
  FsmTest();
  ~FsmTest() override;

  // Writes text as the configuration file and loads it.
  void Configure(const std::string &text);
  // Opens the state file of the directory (after writing text into it when
  // given).
  void OpenState(const char *text = nullptr);
  // The log's lines without their stamps and numbers.
  std::vector<std::string> LogLines();
  bool Logged(const std::string &line);
  int CountLogged(const std::string &line);
  // Index of the first line equal to line, or -1.
  int LogIndex(const std::string &line);
  std::string ReadFile(const std::string &path);
  // Fires the machine's pending timed transition as the loop would.
  void FirePending(const char *machine);
  std::string State() { return CurrentStatesText().Str(); }

  std::string dir_;
  // Outlives the blinker and the timed transitions registered in it.
  OVKEventSelector loop_;

 private:
  static ScriptVariable CurrentStatesText();
};

#endif
