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
  void SetExpiry(long sec, long usec) { sec_ = sec; usec_ = usec; }

 private:
  long sec_ = -1;   // -1: never set
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
  void RegisterSignal(OVKSignalHandler *h);
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
  void DispatchSignals();

  std::vector<OVKFdHandler *> fds_;
  TimerNode *timers_ = nullptr;
  SignalNode *signals_ = nullptr;
  bool quit_ = false;
};

#endif
