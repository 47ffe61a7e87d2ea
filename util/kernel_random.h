// Random numbers from the kernel, for anything a guess must not predict
// (session nonces) or a second process must not repeat (spool file names).
//
// Never blocks: on a board without a clock the kernel's pool may not be
// ready for a while after boot, and the whole loop would wait.  getrandom
// is asked with GRND_NONBLOCK; when it cannot answer at once (pool not
// ready, or no such call), the numbers come from /dev/urandom.
#ifndef HOVANTRA_UTIL_KERNEL_RANDOM_H
#define HOVANTRA_UTIL_KERNEL_RANDOM_H

#include <sys/types.h>

#include <cstddef>

// A 31-bit number from the kernel's random source.
unsigned KernelRandom31();

// Replaces getrandom (nullptr: the real one again); for tests.
using KernelGetrandom = ssize_t (*)(void *buf, size_t len, unsigned flags);
void SetKernelGetrandomForTesting(KernelGetrandom fn);

#endif
