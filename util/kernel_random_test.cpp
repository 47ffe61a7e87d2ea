#include "util/kernel_random.h"

#include <gtest/gtest.h>

#include <sys/random.h>

#include <cerrno>
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

namespace {
unsigned flags_seen = 0;
int calls = 0;
ssize_t PoolNotReady(void *, size_t, unsigned flags) {
  flags_seen = flags;
  calls++;
  errno = EAGAIN;
  return -1;
}
}  // namespace

TEST(KernelRandom, NeverWaitsForThePoolAndFallsBackToTheDevice) {
  SetKernelGetrandomForTesting(PoolNotReady);
  std::set<unsigned> seen;
  for (int i = 0; i < 16; i++) seen.insert(KernelRandom31());
  SetKernelGetrandomForTesting(nullptr);
  EXPECT_EQ(calls, 16);
  EXPECT_TRUE(flags_seen & GRND_NONBLOCK);
  // The numbers came from /dev/urandom, not from a clock.
  EXPECT_GT(seen.size(), 14u);
}
