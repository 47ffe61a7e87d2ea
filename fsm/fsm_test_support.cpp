#include "fsm/fsm_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "config/configuration.h"
#include "config/state_file.h"
#include "core/event_selector.h"
#include "core/event_sink.h"
#include "core/log.h"
#include "core/process_state.h"
#include "fsm/events.h"
#include "fsm/states.h"
#include "fsm/timeout_transit.h"

FsmTest::FsmTest() {
  char tmpl[] = "/tmp/fsm_test_XXXXXX";
  dir_ = mkdtemp(tmpl);
  ResetLog();
  OpenLogFile((dir_ + "/log").c_str());
  ResetProcessState();
  SetEventSink(&ProcessEvent);
}

FsmTest::~FsmTest() {
  ResetProcessState();
  ResetLog();
  std::string cmd = "rm -rf '" + dir_ + "'";
  if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
}

void FsmTest::Configure(const std::string &text) {
  std::string path = dir_ + "/hovantra.ini";
  std::ofstream(path) << text;
  ASSERT_TRUE(LoadConfiguration(path.c_str()));
}

void FsmTest::OpenState(const char *text) {
  std::string path = dir_ + "/hovantra.state";
  if (text) std::ofstream(path) << text;
  OpenStateFile(path.c_str());
}

std::vector<std::string> FsmTest::LogLines() {
  FlushLog();
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(dir_ + "/log"));
  // A value with newlines makes one entry spread over several file lines.
  static const std::regex stamp(
      "^[A-Z][a-z]{2} [ 0-9][0-9] "
      "[0-9]{2}:[0-9]{2}:[0-9]{2} +\\[[0-9]+\\] ");
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, stamp)) {
      lines.push_back(line.substr(m.length(0)));
    } else if (!lines.empty()) {
      lines.back() += "\n" + line;
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

bool FsmTest::Logged(const std::string &line) { return LogIndex(line) >= 0; }

int FsmTest::CountLogged(const std::string &line) {
  int n = 0;
  for (const std::string &l : LogLines()) n += l == line;
  return n;
}

int FsmTest::LogIndex(const std::string &line) {
  std::vector<std::string> lines = LogLines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == line) return static_cast<int>(i);
  }
  return -1;
}

std::string FsmTest::ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void FsmTest::FirePending(const char *machine) {
  TimeoutTransit *t = FindTimeoutTransit(machine);
  ASSERT_NE(t, nullptr) << "nothing pending for " << machine;
  if (t->Loop()) t->Loop()->RemoveTimeout(t);
  t->TimeoutHandle();
}

ScriptVariable FsmTest::CurrentStatesText() { return ::CurrentStatesText(); }
