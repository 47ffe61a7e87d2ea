// The single-threaded event loop and its handler bases.
//
// OVKEventSelector runs passes of: wait for descriptors (or the earliest
// timer), dispatch queued signals, dispatch ready descriptors in ascending
// order, dispatch due timers, stop if Break was called.  Timers are one-shot
// and sorted by expiry; among equal expiries the newest registered fires
// first.  Signals are caught into a 1024-slot queue by an async-signal-safe
// catcher and handled from the loop, never in signal context.
//
// Timer times come from the monotonic clock, so wall-clock jumps neither fire
// timers early nor stall them.  The loop waits with poll(), so descriptors of
// any number can be registered.
#ifndef HOVANTRA_CORE_EVENT_SELECTOR_H
#define HOVANTRA_CORE_EVENT_SELECTOR_H

#include <poll.h>

#include <string>
#include <vector>

// Broken invariant of the event library; nothing catches it.
class OVKException {
 public:
  explicit OVKException(const char *text) : text_(text) {}
  const char *Text() const { return text_.c_str(); }

 private:
  std::string text_;
};

class OVKFdHandler {
 public:
  explicit OVKFdHandler(int fd = -1) : fd_(fd) {}
  virtual ~OVKFdHandler() = default;
  virtual void Handle(bool readable, bool writable, bool exceptional) = 0;
  virtual bool WantRead() const { return true; }
  virtual bool WantWrite() const { return false; }
  virtual bool WantExcept() const { return false; }
  int GetFd() const { return fd_; }
  void SetFd(int fd) { fd_ = fd; }

 protected:
  int fd_;
};

class OVKTimeoutHandler {
 public:
  OVKTimeoutHandler() = default;
  virtual ~OVKTimeoutHandler() = default;
  virtual void TimeoutHandle() = 0;
  // Expiry = now (monotonic) + sec seconds + usec microseconds, with the
  // microseconds carried into seconds.
  void SetFromNow(long sec, long usec);
  long ExpirySec() const { return sec_; }
  long ExpiryUsec() const { return usec_; }
  void SetExpiry(long sec, long usec) {
    sec_ = sec;
    usec_ = usec;
  }

 private:
  long sec_ = -1;  // -1: never set
  long usec_ = -1;
};

class OVKSignalHandler {
 public:
  explicit OVKSignalHandler(int signo) : signo_(signo) {}
  virtual ~OVKSignalHandler() = default;
  virtual void HandleSignal(int signo) = 0;
  int GetSigno() const { return signo_; }

 private:
  int signo_;
};

// Reads the loop's clock (monotonic).  Raises OVKException
// "gettimeofday failed" when the clock cannot be read.
void OVKCurrentTime(long *sec, long *usec);

// The moment sec seconds and usec microseconds from now on the loop's
// clock, with the microseconds carried into seconds.
void OVKTimeFromNow(long sec, long usec, long *at_sec, long *at_usec);

// Whether the moment a comes strictly before the moment b.
inline bool OVKTimeBefore(long a_sec, long a_usec, long b_sec, long b_usec) {
  return a_sec < b_sec || (a_sec == b_sec && a_usec < b_usec);
}

// Replaces the loop's clock (nullptr: the monotonic clock again), so that
// tests can place "now" exactly on a timer's expiry.
using OVKClock = void (*)(long *sec, long *usec);
void OVKSetClockForTesting(OVKClock clock);

// Empties the process-wide pending signal queue; for tests.
void OVKResetSignalQueue();

class OVKEventSelector {
 public:
  OVKEventSelector();
  virtual ~OVKEventSelector();
  OVKEventSelector(const OVKEventSelector &) = delete;
  OVKEventSelector &operator=(const OVKEventSelector &) = delete;

  // "duplicate fd handler" when the slot is taken; the table grows to
  // fd + 1 slots when needed.
  void RegisterFd(OVKFdHandler *h);
  void RemoveFd(OVKFdHandler *h);
  // Sorted insertion before the first timer that does not expire earlier;
  // nothing when that timer is this very handler.
  void RegisterTimeout(OVKTimeoutHandler *h);
  void RemoveTimeout(OVKTimeoutHandler *h);
  // The newest handler comes first.  Installs the catcher for its signal
  // (no SA_RESTART, so a blocked wait is interrupted).
  void RegisterSignal(OVKSignalHandler *h);
  // Restores the default action once no handler wants the signal any more.
  void RemoveSignal(OVKSignalHandler *h);

  void Go();     // runs passes until Break
  void Break();  // the loop stops at the end of the current pass

  int FdTableSize() const;

 protected:
  // Called with the negative result of a failed wait (not an interruption).
  virtual void HandleSelectError(int /*result*/) {}

 private:
  struct TimerNode;
  struct SignalNode;
  void GrowFdTable(int size);
  int ComputeWaitMs();
  void DispatchSignals(bool woken);
  void DispatchDescriptors();
  void DispatchTimers(long now_sec, long now_usec);

  std::vector<OVKFdHandler *> fds_;
  std::vector<pollfd> polled_;  // this pass's wait set, ascending fds
  TimerNode *timers_ = nullptr;
  SignalNode *signals_ = nullptr;
  bool quit_ = false;
};

#endif
