#include "core/process_state.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

using Entry = std::pair<StateLayer, StateReset>;

// A function-local static: registrations run during static initialisation,
// in whatever order the linker chose.
std::vector<Entry> &Registry() {
  static std::vector<Entry> entries;
  return entries;
}

}  // namespace

bool RegisterStateReset(StateLayer layer, StateReset reset) {
  Registry().emplace_back(layer, reset);
  return true;
}

void ResetProcessState() {
  std::vector<Entry> order = Registry();
  std::stable_sort(
      order.begin(), order.end(),
      [](const Entry &a, const Entry &b) { return a.first > b.first; });
  for (const Entry &e : order) e.second();
}
