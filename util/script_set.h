// ScriptSet and ScriptMap: string-keyed open-addressed hash containers.
//
// Their iteration order is part of the system's observable behaviour (state
// lists, variable listings and user lists are printed in it), so the hash,
// the probing, the growth sequence and the removal are fixed:
//   - hash: h = 7; XOR in each character (as signed char) shifted left by
//     (i mod 4) * 8; slot hash = (h ^ 0x12fade34) * 0x9c406bb5 (32 bits);
//     home slot = slot hash mod table size;
//   - probing goes downward from the home slot, wrapping from 0 to the end;
//   - a new table has 11 slots; before an insertion, when count * 3 exceeds
//     size * 2, the table grows to the next size of a fixed prime sequence
//     and the old slots are re-inserted in ascending order;
//   - removal uses backward-shift deletion (no tombstones);
//   - iteration walks the slots in ascending index order.
// Absent keys are never stored; operations on them do nothing and fail.
#ifndef HOVANTRA_UTIL_SCRIPT_SET_H
#define HOVANTRA_UTIL_SCRIPT_SET_H

#include <cstdint>
#include <vector>

#include "util/script_variable.h"

class ScriptSet {
 public:
  ScriptSet() = default;
  virtual ~ScriptSet() = default;
  ScriptSet(const ScriptSet &) = default;
  ScriptSet &operator=(const ScriptSet &) = default;

  bool Add(const ScriptVariable &key);  // true when the key was new
  bool Contains(const ScriptVariable &key) const;
  bool Remove(const ScriptVariable &key);  // true when it was there
  void Clear();
  int Count() const { return count_; }
  int TableSize() const { return static_cast<int>(keys_.size()); }

  // Iteration by slot: for (int i = s.First(); i >= 0; i = s.Next(i))
  int First() const { return Next(-1); }
  int Next(int slot) const;
  const ScriptVariable &KeyAt(int slot) const { return keys_[slot]; }

  // The slot hash of a key (before the modulo), exposed for tests.
  static uint32_t Hash(const ScriptVariable &key);

 protected:
  // Slot of the key, or -1.
  int FindSlot(const ScriptVariable &key) const;
  // Slot holding the key, inserting it when missing; *added tells which.
  int InsertSlot(const ScriptVariable &key, bool *added);

  // Resize hooks: a map moves its values along with the keys.
  virtual void ResizeBegin(int /*new_size*/) {}
  virtual void ResizeMove(int /*old_slot*/, int /*new_slot*/) {}
  virtual void ResizeEnd() {}
  // Removal hook: a value moves from one slot to another (backward shift),
  // or is cleared (to == -1).
  virtual void MoveValue(int /*from*/, int /*to*/) {}

 private:
  void Grow();
  int Probe(const ScriptVariable &key) const;  // slot of key or first empty

  std::vector<ScriptVariable> keys_;  // absent marks an empty slot
  int count_ = 0;
};

class ScriptMap : public ScriptSet {
 public:
  void Set(const ScriptVariable &key, const ScriptVariable &value);
  // The value, or absent when the key is missing.
  ScriptVariable Get(const ScriptVariable &key) const;
  // Writable reference; a missing key is inserted with the empty text.
  // Valid until the next insertion or removal.
  ScriptVariable &Ref(const ScriptVariable &key);
  const ScriptVariable &ValueAt(int slot) const { return values_[slot]; }

 protected:
  void ResizeBegin(int new_size) override;
  void ResizeMove(int old_slot, int new_slot) override;
  void ResizeEnd() override;
  void MoveValue(int from, int to) override;

 private:
  std::vector<ScriptVariable> values_;
  std::vector<ScriptVariable> old_values_;
};

#endif
