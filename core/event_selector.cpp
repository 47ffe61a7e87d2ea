#include "core/event_selector.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <climits>

// ---------------------------------------------------------------------------
// Clock

static OVKClock test_clock = nullptr;

void OVKSetClockForTesting(OVKClock clock) { test_clock = clock; }

void OVKCurrentTime(long *sec, long *usec) {
  if (test_clock) {
    test_clock(sec, usec);
    return;
  }
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
    throw OVKException("gettimeofday failed");
  *sec = ts.tv_sec;
  *usec = ts.tv_nsec / 1000;
}

void OVKTimeFromNow(long sec, long usec, long *at_sec, long *at_usec) {
  long now_sec, now_usec;
  OVKCurrentTime(&now_sec, &now_usec);
  *at_sec = now_sec + sec;
  *at_usec = now_usec + usec;
  if (*at_usec > 999999) {
    *at_sec += *at_usec / 1000000;
    *at_usec %= 1000000;
  }
}

void OVKTimeoutHandler::SetFromNow(long sec, long usec) {
  OVKTimeFromNow(sec, usec, &sec_, &usec_);
}

static bool ExpiresEarlier(const OVKTimeoutHandler *a, long sec, long usec) {
  return OVKTimeBefore(a->ExpirySec(), a->ExpiryUsec(), sec, usec);
}

// ---------------------------------------------------------------------------
// Pending signal queue
//
// The catcher is the only code that runs asynchronously.  It writes only the
// write index and the loop only the read index, so one slot always stays
// free: at most 1023 numbers wait.  A byte in the wake pipe makes sure a
// signal that arrives between building the wait set and entering poll()
// still ends the wait.

static const int kQueueSize = 1024;
static volatile sig_atomic_t queue_slots[kQueueSize];
static volatile sig_atomic_t queue_read = 0;
static volatile sig_atomic_t queue_write = 0;
static int wake_pipe[2] = {-1, -1};
static bool catcher_installed[NSIG];

static void SignalCatcher(int signo) {
  int saved_errno = errno;
  int next = (queue_write + 1) % kQueueSize;
  if (next != queue_read) {
    queue_slots[queue_write] = signo;
    queue_write = next;
  }
  if (wake_pipe[1] >= 0) {
    char byte = 0;
    ssize_t ignored = write(wake_pipe[1], &byte, 1);
    (void)ignored;  // a full pipe already guarantees a wake-up
  }
  errno = saved_errno;
}

// Takes the oldest queued number; false when the queue is empty.
static bool TakeSignal(int *signo) {
  if (queue_read == queue_write) return false;
  *signo = queue_slots[queue_read];
  queue_read = (queue_read + 1) % kQueueSize;
  return true;
}

void OVKResetSignalQueue() {
  queue_read = 0;
  queue_write = 0;
}

static void OpenWakePipe() {
  if (wake_pipe[0] >= 0) return;
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    // Without the pipe signals still interrupt poll(); only one arriving in
    // the short gap before it waits for the next wake-up.
    wake_pipe[0] = wake_pipe[1] = -1;
  }
}

static void DrainWakePipe() {
  if (wake_pipe[0] < 0) return;
  char buf[64];
  while (read(wake_pipe[0], buf, sizeof buf) > 0) {
  }
}

// ---------------------------------------------------------------------------
// Selector

struct OVKEventSelector::TimerNode {
  OVKTimeoutHandler *handler;
  TimerNode *next;
};

struct OVKEventSelector::SignalNode {
  OVKSignalHandler *handler;
  SignalNode *next;
};

static const int kInitialFdTableSize = 10;

OVKEventSelector::OVKEventSelector() : fds_(kInitialFdTableSize, nullptr) {}

OVKEventSelector::~OVKEventSelector() {
  while (timers_) {
    TimerNode *next = timers_->next;
    delete timers_;
    timers_ = next;
  }
  while (signals_) {
    SignalNode *next = signals_->next;
    delete signals_;
    signals_ = next;
  }
}

int OVKEventSelector::FdTableSize() const {
  return static_cast<int>(fds_.size());
}

void OVKEventSelector::GrowFdTable(int size) {
  if (size <= FdTableSize()) throw OVKException("attempt to shrink fd array");
  fds_.resize(size, nullptr);
}

void OVKEventSelector::RegisterFd(OVKFdHandler *h) {
  int fd = h->GetFd();
  // A negative descriptor would index before the table.
  if (fd < 0) throw OVKException("invalid fd handler");
  if (fd >= FdTableSize()) GrowFdTable(fd + 1);
  if (fds_[fd]) throw OVKException("duplicate fd handler");
  fds_[fd] = h;
}

void OVKEventSelector::RemoveFd(OVKFdHandler *h) {
  for (size_t i = 0; i < fds_.size(); i++) {
    if (fds_[i] == h) {
      fds_[i] = nullptr;
      return;
    }
  }
}

void OVKEventSelector::RegisterTimeout(OVKTimeoutHandler *h) {
  TimerNode **link = &timers_;
  while (*link &&
         ExpiresEarlier((*link)->handler, h->ExpirySec(), h->ExpiryUsec()))
    link = &(*link)->next;
  if (*link && (*link)->handler == h) return;
  *link = new TimerNode{h, *link};
}

void OVKEventSelector::RemoveTimeout(OVKTimeoutHandler *h) {
  for (TimerNode **link = &timers_; *link; link = &(*link)->next) {
    if ((*link)->handler == h) {
      TimerNode *node = *link;
      *link = node->next;
      delete node;
      return;
    }
  }
}

void OVKEventSelector::RegisterSignal(OVKSignalHandler *h) {
  int signo = h->GetSigno();
  if (signo <= 0 || signo >= NSIG) throw OVKException("invalid signal number");
  signals_ = new SignalNode{h, signals_};
  OpenWakePipe();
  struct sigaction sa = {};
  sa.sa_handler = SignalCatcher;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(signo, &sa, nullptr);
  catcher_installed[signo] = true;
}

void OVKEventSelector::RemoveSignal(OVKSignalHandler *h) {
  for (SignalNode **link = &signals_; *link; link = &(*link)->next) {
    if ((*link)->handler == h) {
      SignalNode *node = *link;
      *link = node->next;
      delete node;
      break;
    }
  }
  int signo = h->GetSigno();
  for (SignalNode *n = signals_; n; n = n->next)
    if (n->handler->GetSigno() == signo) return;
  if (signo > 0 && signo < NSIG && catcher_installed[signo]) {
    catcher_installed[signo] = false;
    signal(signo, SIG_DFL);
  }
}

void OVKEventSelector::Break() { quit_ = true; }

// Milliseconds until the earliest timer, rounded up so that the loop does
// not spin through passes in which nothing is due yet; -1 without timers.
int OVKEventSelector::ComputeWaitMs() {
  long now_sec, now_usec;
  OVKCurrentTime(&now_sec, &now_usec);
  if (!timers_) return -1;
  long sec = timers_->handler->ExpirySec() - now_sec;
  long usec = timers_->handler->ExpiryUsec() - now_usec;
  while (usec < 0) {
    usec += 1000000;
    sec--;
  }
  if (sec < 0) return 0;
  if (sec >= INT_MAX / 1000 - 1) return INT_MAX;
  return static_cast<int>(sec * 1000 + (usec + 999) / 1000);
}

void OVKEventSelector::DispatchSignals(bool woken) {
  // The queue is read on every pass; the pipe only needs emptying when a
  // catcher wrote to it, and most passes are woken by descriptors.
  if (woken) DrainWakePipe();
  int signo;
  while (TakeSignal(&signo)) {
    // The next node is read after the call: a handler must not remove
    // itself from here.
    for (SignalNode *n = signals_; n; n = n->next)
      if (n->handler->GetSigno() == signo) n->handler->HandleSignal(signo);
  }
}

void OVKEventSelector::DispatchDescriptors() {
  // polled_ is in ascending descriptor order; the table is read afresh at
  // every step because handlers come and go during dispatch.
  for (const pollfd &p : polled_) {
    if (p.fd == wake_pipe[0] || p.revents == 0) continue;
    if (p.fd >= FdTableSize()) continue;
    OVKFdHandler *h = fds_[p.fd];
    if (!h) continue;
    // Hang-up and error count as readable/writable, as select reports them.
    bool r = (p.events & POLLIN) && (p.revents & (POLLIN | POLLHUP | POLLERR));
    bool w =
        (p.events & POLLOUT) && (p.revents & (POLLOUT | POLLHUP | POLLERR));
    bool x = (p.events & POLLPRI) && (p.revents & POLLPRI);
    if (r || w || x) h->Handle(r, w, x);
  }
}

void OVKEventSelector::DispatchTimers(long now_sec, long now_usec) {
  while (timers_ && ExpiresEarlier(timers_->handler, now_sec, now_usec)) {
    TimerNode *node = timers_;
    timers_ = node->next;
    OVKTimeoutHandler *h = node->handler;
    delete node;
    h->TimeoutHandle();
  }
}

void OVKEventSelector::Go() {
  quit_ = false;
  do {
    polled_.clear();
    for (size_t fd = 0; fd < fds_.size(); fd++) {
      OVKFdHandler *h = fds_[fd];
      if (!h) continue;
      short events = 0;
      if (h->WantRead()) events |= POLLIN;
      if (h->WantWrite()) events |= POLLOUT;
      if (h->WantExcept()) events |= POLLPRI;
      if (events) polled_.push_back(pollfd{static_cast<int>(fd), events, 0});
    }
    bool wake_polled = wake_pipe[0] >= 0;  // then the last entry
    if (wake_polled) polled_.push_back(pollfd{wake_pipe[0], POLLIN, 0});

    int wait_ms = ComputeWaitMs();
    int result = poll(polled_.data(), polled_.size(), wait_ms);
    if (result < 0) {
      if (errno != EINTR) HandleSelectError(result);
      for (pollfd &p : polled_) p.revents = 0;
    }

    long now_sec, now_usec;
    OVKCurrentTime(&now_sec, &now_usec);
    // An interrupted wait was a signal; its byte is in the pipe too.
    bool woken = wake_polled && (result < 0 || polled_.back().revents != 0);
    DispatchSignals(woken);
    if (result > 0) DispatchDescriptors();
    DispatchTimers(now_sec, now_usec);
  } while (!quit_);
}
