// Random numbers from the kernel, for anything a guess must not predict
// (session nonces) or a second process must not repeat (spool file names).
#ifndef HOVANTRA_UTIL_KERNEL_RANDOM_H
#define HOVANTRA_UTIL_KERNEL_RANDOM_H

// A 31-bit number from the kernel's random source.
unsigned KernelRandom31();

#endif
