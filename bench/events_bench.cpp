// ProcessEvent and SetState per second on generated configurations of 10 to
// 100,000 states and events.  Every lookup goes through the configuration
// document and the state set, so the time per call must stay flat as the
// configuration grows; the O(1) fit at the end of each family says whether
// it does.
//
// The log goes to /dev/null with its flood guard lifted on every call, so
// each log line is formatted and written as in normal operation.  The state
// file, rewritten on every SetState, lives on /dev/shm when that exists:
// the benchmark measures the daemon, not the disk.

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "actions/actions.h"
#include "config/configuration.h"
#include "config/state_file.h"
#include "core/event_selector.h"
#include "core/event_sink.h"
#include "core/log.h"
#include "core/process_state.h"
#include "daemon/system_variables.h"
#include "fsm/events.h"
#include "fsm/set_state.h"
#include "fsm/state_machines.h"
#include "fsm/states.h"
#include "subst/substitution.h"

namespace {

std::string TempDir() {
  struct stat st;
  std::string base = stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = base + "/hovantra-bench-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    perror("mkdtemp");
    exit(1);
  }
  return buf.data();
}

// Successor of state i in the walk the events take: a fixed permutation
// that jumps across the whole configuration instead of walking it in order.
int Scatter(long i, long n) { return static_cast<int>((i * 7919 + 13) % n); }

// n states m.s0 .. m.s<n-1> of one machine and n events e0 .. e<n-1>; event
// i moves the machine from any state to a scattered one.  Each state has
// keys, so entering it reads a populated section.
void WriteConfiguration(const std::string &path, long n) {
  FILE *f = fopen(path.c_str(), "w");
  if (!f) {
    perror(path.c_str());
    exit(1);
  }
  fprintf(f, "[general]\nname = bench\ndefaultstate = m.s0\nwatchdog = 0\n\n");
  for (long i = 0; i < n; ++i) {
    fprintf(f, "[state m.s%ld]\nunready = m.s0\n\n", i);
  }
  for (long i = 0; i < n; ++i) {
    fprintf(f, "[event e%ld]\nfsm = m\ntransit = m.* -> m.s%d\n\n", i,
            Scatter(i, n));
  }
  fclose(f);
}

// One configured system for the length of one benchmark run.
class System {
 public:
  System(long n, bool state_file) : dir_(TempDir()) {
    ResetLog();
    OpenLogFile("/dev/null");
    ResetProcessState();
    RegisterSystemVariables(MainSubstitution());
    SetEventSink(&ProcessEvent);
    std::string ini = dir_ + "/hovantra.ini";
    WriteConfiguration(ini, n);
    if (!LoadConfiguration(ini.c_str())) {
      fprintf(stderr, "cannot load %s\n", ini.c_str());
      exit(1);
    }
    if (state_file) OpenStateFile((dir_ + "/hovantra.state").c_str());
    InitStateMachines(&loop_);
    // The names are made before timing starts; an event line arrives as
    // ready text from a board or a command, too.
    for (long i = 0; i < n; ++i) {
      events_.push_back(ScriptVariable(("e" + std::to_string(i)).c_str()));
      states_.push_back(
          ScriptVariable(("m.s" + std::to_string(Scatter(i, n))).c_str()));
    }
  }

  ~System() {
    ResetProcessState();
    ResetLog();
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0)
      fprintf(stderr, "cannot remove %s\n", dir_.c_str());
  }

  const ScriptVariable &Event(size_t i) const {
    return events_[i % events_.size()];
  }
  const ScriptVariable &State(size_t i) const {
    return states_[i % states_.size()];
  }

  // The state the machine must be in after Event(i) or State(i).
  bool Reached(size_t i) const {
    return CurrentStateOf(ScriptVariable("m")) ==
           ScriptVariable(State(i).c_str() + 2);
  }

 private:
  std::string dir_;
  OVKEventSelector loop_;
  std::vector<ScriptVariable> events_;
  std::vector<ScriptVariable> states_;
};

// Visits the names in a stride that touches the whole table, not its front.
size_t Pick(size_t i, long n) {
  return static_cast<size_t>((static_cast<long>(i) * 104729) % n);
}

void Check(benchmark::State &state, const System &system, size_t last) {
  if (!system.Reached(last)) state.SkipWithError("the machine did not move");
}

// Runs call(system, i) for names picked across the whole configuration of
// state.range(0) sections, then checks that the machine really moved.
template <typename Call>
void Drive(benchmark::State &state, bool saved, Call call) {
  long n = state.range(0);
  System system(n, saved);
  size_t i = 0, last = 0;
  for (auto _ : state) {
    last = Pick(i++, n);
    call(system, last);
    LogResume();
  }
  Check(state, system, last);
  state.SetItemsProcessed(state.iterations());
  state.SetComplexityN(n);
}

void BM_ProcessEvent(benchmark::State &state) {
  Drive(state, true,
        [](const System &s, size_t i) { ProcessEvent(s.Event(i)); });
}

void BM_SetState(benchmark::State &state) {
  Drive(state, true,
        [](const System &s, size_t i) { SetState(s.State(i), false); });
}

// Without a state file: only the lookups, the state set and the log.
void BM_SetStateUnsaved(benchmark::State &state) {
  Drive(state, false,
        [](const System &s, size_t i) { SetState(s.State(i), false); });
}

}  // namespace

BENCHMARK(BM_ProcessEvent)
    ->RangeMultiplier(10)
    ->Range(10, 100000)
    ->Complexity(benchmark::o1);
BENCHMARK(BM_SetState)
    ->RangeMultiplier(10)
    ->Range(10, 100000)
    ->Complexity(benchmark::o1);
BENCHMARK(BM_SetStateUnsaved)
    ->RangeMultiplier(10)
    ->Range(10, 100000)
    ->Complexity(benchmark::o1);

BENCHMARK_MAIN();
