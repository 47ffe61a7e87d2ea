#include "util/kernel_random.h"

#include <gtest/gtest.h>

#include <set>

TEST(KernelRandom, ThirtyOneBitsThatDoNotRepeat) {
  // Two processes started in the same second once drew the same spool name
  // from a time-seeded generator; the kernel's numbers must differ draw to
  // draw.
  std::set<unsigned> seen;
  for (int i = 0; i < 64; i++) {
    unsigned value = KernelRandom31();
    EXPECT_LT(value, 0x80000000u);
    seen.insert(value);
  }
  EXPECT_GT(seen.size(), 60u);
}
