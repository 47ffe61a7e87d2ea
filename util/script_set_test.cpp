#include "util/script_set.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(ScriptSet, GrowsAtTheNinthKey) {
  ScriptSet s;
  for (int i = 0; i < 8; i++) EXPECT_TRUE(s.Add(ScriptFormat("k%d", i)));
  EXPECT_EQ(s.TableSize(), 11);
  EXPECT_FALSE(s.Add("k3"));  // a known key never grows the table
  EXPECT_EQ(s.TableSize(), 11);
  EXPECT_TRUE(s.Add("k8"));
  EXPECT_EQ(s.TableSize(), 17);
  EXPECT_EQ(s.Count(), 9);
  for (int i = 0; i < 9; i++) EXPECT_TRUE(s.Contains(ScriptFormat("k%d", i)));
}

TEST(ScriptSet, IterationFollowsSlotsOfTheHash) {
  // The home slot is the hash modulo the size; collisions probe downward.
  ScriptSet s;
  s.Add("security");
  s.Add("");
  s.Add("heat");
  std::vector<int> slots;
  for (int i = s.First(); i >= 0; i = s.Next(i)) slots.push_back(i);
  ASSERT_EQ(slots.size(), 3u);
  EXPECT_LT(slots[0], slots[1]);
  EXPECT_LT(slots[1], slots[2]);
  EXPECT_EQ(ScriptSet::Hash(""), (7u ^ 0x12fade34u) * 0x9c406bb5u);
  uint32_t h = 7u ^ 'a' ^ ('b' << 8);
  EXPECT_EQ(ScriptSet::Hash("ab"), (h ^ 0x12fade34u) * 0x9c406bb5u);
  // Characters take their sign: 0xE9 widens to 0xFFFFFFE9.
  EXPECT_EQ(ScriptSet::Hash("\xe9"),
            ((7u ^ 0xFFFFFFE9u) ^ 0x12fade34u) * 0x9c406bb5u);
}

TEST(ScriptSet, RemovalKeepsProbeChainsIntact) {
  // Many keys in a small table make long chains; removing any of them must
  // keep every other findable.
  for (int victim = 0; victim < 40; victim++) {
    ScriptSet s;
    for (int i = 0; i < 40; i++) s.Add(ScriptFormat("key%d", i));
    EXPECT_TRUE(s.Remove(ScriptFormat("key%d", victim)));
    EXPECT_FALSE(s.Remove(ScriptFormat("key%d", victim)));
    for (int i = 0; i < 40; i++)
      EXPECT_EQ(s.Contains(ScriptFormat("key%d", i)), i != victim)
          << victim << " " << i;
    EXPECT_EQ(s.Count(), 39);
  }
}

TEST(ScriptSet, AbsentKeysAreRefused) {
  ScriptSet s;
  EXPECT_FALSE(s.Add(ScriptVariable::Absent()));
  EXPECT_FALSE(s.Contains(ScriptVariable::Absent()));
  EXPECT_FALSE(s.Remove(ScriptVariable::Absent()));
  EXPECT_EQ(s.Count(), 0);
}

TEST(ScriptMap, ValuesFollowTheirKeys) {
  ScriptMap m;
  for (int i = 0; i < 100; i++)
    m.Set(ScriptFormat("m%d", i), ScriptFormat("v%d", i));
  for (int i = 0; i < 100; i += 3) m.Remove(ScriptFormat("m%d", i));
  for (int i = 0; i < 100; i++) {
    ScriptVariable v = m.Get(ScriptFormat("m%d", i));
    if (i % 3 == 0)
      EXPECT_TRUE(v.IsAbsent());
    else
      EXPECT_EQ(v, ScriptFormat("v%d", i));
  }
  int seen = 0;
  for (int i = m.First(); i >= 0; i = m.Next(i)) {
    EXPECT_EQ("v" + m.KeyAt(i).Range(1), m.ValueAt(i));
    seen++;
  }
  EXPECT_EQ(seen, m.Count());
}

TEST(ScriptMap, RefInsertsEmpty) {
  ScriptMap m;
  ScriptVariable &r = m.Ref("machine");
  EXPECT_EQ(r, "");
  r = "armed";
  EXPECT_EQ(m.Get("machine"), "armed");
  EXPECT_EQ(m.Count(), 1);
  m.Clear();
  EXPECT_EQ(m.Count(), 0);
  EXPECT_TRUE(m.Get("machine").IsAbsent());
}
