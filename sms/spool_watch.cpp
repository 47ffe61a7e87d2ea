#include "sms/spool_watch.h"

#include <time.h>

#include <cstdlib>

#include "core/event_selector.h"

namespace {

int64_t MonotonicUs() {
  long sec, usec;
  OVKCurrentTime(&sec, &usec);
  return static_cast<int64_t>(sec) * 1000000 + usec;
}

// Wall clock minus the loop's clock: it moves only when the wall clock is
// set or stepped.
int64_t WallOffsetUs(int64_t monotonic_us) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000 -
         monotonic_us;
}

bool SameTime(const struct timespec &a, const struct timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Slewing moves the offset slowly; a set clock jumps.
const int64_t kOffsetTolerance = 500000;

}  // namespace

bool SpoolWatch::Key::operator==(const Key &other) const {
  return dev == other.dev && ino == other.ino && SameTime(mtime, other.mtime) &&
         SameTime(ctime, other.ctime) && size == other.size;
}

bool SpoolWatch::NeedsListing(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0) {
    clean_ = false;
    have_seen_ = false;
    return true;
  }
  Key key{st.st_dev, st.st_ino, st.st_mtim, st.st_ctim, st.st_size};
  int64_t now = MonotonicUs();
  if (clean_ && key == clean_key_ &&
      std::llabs(WallOffsetUs(now) - clean_offset_us_) <= kOffsetTolerance)
    return false;
  clean_ = false;
  if (!have_seen_ || !(key == seen_key_)) {
    have_seen_ = true;
    seen_key_ = key;
    seen_since_us_ = now;
  }
  listed_at_us_ = now;
  return true;
}

void SpoolWatch::Listed(bool nothing_to_take) {
  if (!nothing_to_take || !have_seen_) return;
  if (listed_at_us_ - seen_since_us_ < static_cast<int64_t>(kSettle) * 1000000)
    return;
  clean_ = true;
  clean_key_ = seen_key_;
  clean_offset_us_ = WallOffsetUs(listed_at_us_);
}
