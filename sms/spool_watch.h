// SpoolWatch: whether a spool directory needs listing again.  An idle
// poller lists two empty directories every second; most of those listings
// can be answered by one stat of the directory instead.
//
// A listing that found nothing to take marks the directory clean, keyed by
// its identity and its modification and change times.  While that key
// stays, the directory is not listed.  Any entry created, removed or
// renamed in or out moves the times, so the next pass lists it again.
//
// A time stamp is coarse (the kernel's clock tick; whole seconds or two on
// some file systems), so an entry added just after a listing may leave the
// times exactly as they were.  A listing therefore marks the directory
// clean only once the key it saw had already been seen kSettle seconds
// before: whatever happens after such a listing is stamped later than any
// time in the key.  A step of the wall clock (which stamps the times)
// against the monotonic clock forgets the mark.
#ifndef HOVANTRA_SMS_SPOOL_WATCH_H
#define HOVANTRA_SMS_SPOOL_WATCH_H

#include <sys/stat.h>

#include <cstdint>

class SpoolWatch {
 public:
  static const int kSettle = 3;  // seconds

  // True when the directory at path must be listed now.  A directory that
  // cannot be stat'ed is always listed (the listing reports as it does).
  bool NeedsListing(const char *path);
  // The outcome of the listing NeedsListing just asked for: true when it
  // found no entry to take (none at all, or only ones the poller ignores).
  void Listed(bool nothing_to_take);

 private:
  struct Key {
    dev_t dev;
    ino_t ino;
    struct timespec mtime;
    struct timespec ctime;
    off_t size;
    bool operator==(const Key &other) const;
  };

  bool clean_ = false;
  Key clean_key_{};
  int64_t clean_offset_us_ = 0;  // wall clock minus monotonic, when marked
  bool have_seen_ = false;
  Key seen_key_{};             // the key of the last stat
  int64_t seen_since_us_ = 0;  // monotonic time it was first seen
  int64_t listed_at_us_ = 0;   // monotonic time of the stat before listing
};

#endif
