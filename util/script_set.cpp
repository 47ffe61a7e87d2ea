#include "util/script_set.h"

static const int kSizes[] = {17,       37,       67,       131,      257,
                             521,      1031,     2053,     4099,     8209,
                             16411,    32771,    65537,    131101,   262147,
                             524309,   1048583,  2097169,  4194319,  8388617,
                             16777259, 33554467, 67108879, 134217757};
static const int kInitialSize = 11;

uint32_t ScriptSet::Hash(const ScriptVariable &key) {
  uint32_t h = 7;
  const std::string &s = key.Str();
  for (size_t i = 0; i < s.size(); i++) {
    uint32_t c = static_cast<uint32_t>(
        static_cast<int32_t>(static_cast<signed char>(s[i])));
    h ^= c << ((i % 4) * 8);
  }
  return (h ^ 0x12fade34u) * 0x9c406bb5u;
}

int ScriptSet::Probe(const ScriptVariable &key) const {
  int size = TableSize();
  int slot = static_cast<int>(Hash(key) % static_cast<uint32_t>(size));
  while (!keys_[slot].IsAbsent() && keys_[slot] != key)
    slot = slot == 0 ? size - 1 : slot - 1;
  return slot;
}

int ScriptSet::FindSlot(const ScriptVariable &key) const {
  if (key.IsAbsent() || keys_.empty()) return -1;
  int slot = Probe(key);
  return keys_[slot].IsAbsent() ? -1 : slot;
}

void ScriptSet::Grow() {
  int old_size = TableSize();
  int new_size = kInitialSize;
  if (old_size > 0) {
    new_size = old_size;
    for (int s : kSizes)
      if (s > old_size) {
        new_size = s;
        break;
      }
  }
  std::vector<ScriptVariable> old_keys(new_size, ScriptVariable::Absent());
  old_keys.swap(keys_);
  ResizeBegin(new_size);
  for (int i = 0; i < old_size; i++) {
    if (old_keys[i].IsAbsent()) continue;
    int slot = Probe(old_keys[i]);
    keys_[slot] = old_keys[i];
    ResizeMove(i, slot);
  }
  ResizeEnd();
}

int ScriptSet::InsertSlot(const ScriptVariable &key, bool *added) {
  *added = false;
  if (key.IsAbsent()) return -1;
  int slot = FindSlot(key);
  if (slot >= 0) return slot;
  if (keys_.empty() || count_ * 3 > TableSize() * 2) Grow();
  slot = Probe(key);
  keys_[slot] = key;
  count_++;
  *added = true;
  return slot;
}

bool ScriptSet::Add(const ScriptVariable &key) {
  bool added;
  InsertSlot(key, &added);
  return added;
}

bool ScriptSet::Contains(const ScriptVariable &key) const {
  return FindSlot(key) >= 0;
}

bool ScriptSet::Remove(const ScriptVariable &key) {
  int gap = FindSlot(key);
  if (gap < 0) return false;
  int size = TableSize();
  keys_[gap] = ScriptVariable::Absent();
  MoveValue(gap, -1);
  count_--;
  // Backward shift: an entry further down the probe chain whose path from
  // its home slot passes through the gap would become unreachable; move it
  // into the gap, which then moves to where the entry was.
  auto down = [size](int from, int to) { return (from - to + size) % size; };
  int j = gap;
  while (true) {
    j = j == 0 ? size - 1 : j - 1;
    if (keys_[j].IsAbsent()) break;
    int home = static_cast<int>(Hash(keys_[j]) % static_cast<uint32_t>(size));
    if (down(home, gap) < down(home, j)) {
      keys_[gap] = keys_[j];
      keys_[j] = ScriptVariable::Absent();
      MoveValue(j, gap);
      gap = j;
    }
  }
  return true;
}

void ScriptSet::Clear() {
  for (int i = 0; i < TableSize(); i++) {
    if (keys_[i].IsAbsent()) continue;
    keys_[i] = ScriptVariable::Absent();
    MoveValue(i, -1);
  }
  count_ = 0;
}

int ScriptSet::Next(int slot) const {
  for (int i = slot + 1; i < TableSize(); i++)
    if (!keys_[i].IsAbsent()) return i;
  return -1;
}

void ScriptMap::Set(const ScriptVariable &key, const ScriptVariable &value) {
  bool added;
  int slot = InsertSlot(key, &added);
  if (slot >= 0) values_[slot] = value;
}

ScriptVariable ScriptMap::Get(const ScriptVariable &key) const {
  int slot = FindSlot(key);
  return slot < 0 ? ScriptVariable::Absent() : values_[slot];
}

ScriptVariable &ScriptMap::Ref(const ScriptVariable &key) {
  bool added;
  int slot = InsertSlot(key, &added);
  if (slot < 0) {
    // An absent key has no slot; hand out a scratch value nobody stores.
    static ScriptVariable scratch;
    scratch = ScriptVariable("");
    return scratch;
  }
  if (added) values_[slot] = ScriptVariable("");
  return values_[slot];
}

void ScriptMap::ResizeBegin(int new_size) {
  old_values_.swap(values_);
  values_.assign(new_size, ScriptVariable::Absent());
}

void ScriptMap::ResizeMove(int old_slot, int new_slot) {
  values_[new_slot] = std::move(old_values_[old_slot]);
}

void ScriptMap::ResizeEnd() { old_values_.clear(); }

void ScriptMap::MoveValue(int from, int to) {
  if (to >= 0) values_[to] = std::move(values_[from]);
  values_[from] = ScriptVariable::Absent();
}
