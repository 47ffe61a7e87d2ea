/* Seconds on the monotonic clock: the intervals the benchmark programs
 * measure. */
#ifndef HOVANTRA_BENCH_MONOTONIC_H
#define HOVANTRA_BENCH_MONOTONIC_H

#include <time.h>

static inline double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

#endif
