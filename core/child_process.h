// Detached shell commands and the reaping of their processes.
//
// A command runs in a forked child through the shell; the child logs the
// outcome itself and ends.  The main loop never waits for it: the one
// OVKChildWaitAgent reaps every watched child when the child-ended signal
// comes through the event loop, so no zombies stay behind.
#ifndef HOVANTRA_CORE_CHILD_PROCESS_H
#define HOVANTRA_CORE_CHILD_PROCESS_H

#include <signal.h>
#include <sys/types.h>

#include <cstddef>

#include "core/event_selector.h"

class OVKChildWaitAgent;

// The record of one watched child.  Allocated on the heap; the agent
// deletes it right after the child has been reaped.
class OVKChildHandler {
 public:
  // Adds itself to agent (when given).
  OVKChildHandler(pid_t pid, OVKChildWaitAgent *agent);
  virtual ~OVKChildHandler() = default;
  OVKChildHandler(const OVKChildHandler &) = delete;
  OVKChildHandler &operator=(const OVKChildHandler &) = delete;

  // Called once after the child was reaped; the status is then set.
  virtual void HandleChildExit() {}

  int GetStatus() const { return status_; }  // raw wait status, 0 until reaped
  pid_t GetPid() const { return pid_; }      // 0 after reaping

 private:
  friend class OVKChildWaitAgent;
  int status_ = 0;
  pid_t pid_;
};

class OVKChildWaitAgent : public OVKSignalHandler {
 public:
  OVKChildWaitAgent();
  // Detaches; the children still watched are not deleted.
  ~OVKChildWaitAgent() override;
  OVKChildWaitAgent(const OVKChildWaitAgent &) = delete;
  OVKChildWaitAgent &operator=(const OVKChildWaitAgent &) = delete;

  void Attach(OVKEventSelector *selector);
  void Detach();
  // The newest child comes first.
  void AddChild(OVKChildHandler *child);
  // Reaps every watched child that has ended (one signal may stand for
  // several).  OVKException "Invalid child pid" for a process that is not
  // a child of this one.
  void HandleSignal(int signo) override;

  size_t WatchedCount() const;

 private:
  struct Node {
    OVKChildHandler *child;
    Node *next;
  };
  Node *children_ = nullptr;
  OVKEventSelector *selector_ = nullptr;
};

// The one agent of the process, published by main right after Attach.
void SetChildWaitAgent(OVKChildWaitAgent *agent);
OVKChildWaitAgent *GetChildWaitAgent();

// Runs command through the shell in a detached child.  The child keeps
// descriptors 0-2 and the log, closes every other one, logs
//   "Command completed, code == %d"  (raw wait status of system)
//   "Command execution failed (system returned -1)"
// and ends with status 0.  "Fork failed when tried to execute external
// command" when no child could be made.
void SpawnShellCommand(const char *command);

#endif
