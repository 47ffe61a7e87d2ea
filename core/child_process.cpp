#include "core/child_process.h"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "core/log.h"
#include "core/process_state.h"
#include "core/restart.h"

static OVKChildWaitAgent *child_wait_agent = nullptr;

void SetChildWaitAgent(OVKChildWaitAgent *agent) { child_wait_agent = agent; }

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kCore, [] { SetChildWaitAgent(nullptr); });
OVKChildWaitAgent *GetChildWaitAgent() { return child_wait_agent; }

OVKChildHandler::OVKChildHandler(pid_t pid, OVKChildWaitAgent *agent)
    : pid_(pid) {
  if (agent) agent->AddChild(this);
}

OVKChildWaitAgent::OVKChildWaitAgent() : OVKSignalHandler(SIGCHLD) {}

OVKChildWaitAgent::~OVKChildWaitAgent() {
  Detach();
  while (children_) {
    Node *next = children_->next;
    delete children_;
    children_ = next;
  }
}

void OVKChildWaitAgent::Attach(OVKEventSelector *selector) {
  selector_ = selector;
  selector_->RegisterSignal(this);
}

void OVKChildWaitAgent::Detach() {
  if (selector_) selector_->RemoveSignal(this);
  selector_ = nullptr;
}

void OVKChildWaitAgent::AddChild(OVKChildHandler *child) {
  children_ = new Node{child, children_};
}

size_t OVKChildWaitAgent::WatchedCount() const {
  size_t n = 0;
  for (Node *p = children_; p; p = p->next) n++;
  return n;
}

void OVKChildWaitAgent::HandleSignal(int /*signo*/) {
  Node **link = &children_;
  while (*link) {
    OVKChildHandler *child = (*link)->child;
    int status = 0;
    pid_t result = waitpid(child->pid_, &status, WNOHANG);
    if (result < 0 && errno == ECHILD) throw OVKException("Invalid child pid");
    if (result != child->pid_) {
      link = &(*link)->next;
      continue;
    }
    child->status_ = status;
    child->HandleChildExit();
    child->pid_ = 0;
    delete child;
    Node *node = *link;
    *link = node->next;
    delete node;
  }
}

// The forked child: runs the command and reports through its own copy of
// the log.  It never returns into the daemon's code.
[[noreturn]] static void RunCommandInChild(const char *command) {
  // The daemon ignores SIGPIPE and catches SIGCHLD for its loop; the
  // command must see neither.
  signal(SIGPIPE, SIG_DFL);
  signal(SIGCHLD, SIG_DFL);
  CloseDescriptorsExcept(LogFileNumber());
  int code = system(command);
  if (code == -1)
    LogMessage("Command execution failed (system returned -1)");
  else
    LogMessage("Command completed, code == %d", code);
  FlushLog();
  // Not exit(): the daemon's atexit handlers and static destructors belong
  // to the parent.
  _exit(0);
}

void SpawnShellCommand(const char *command) {
  FlushLog();  // nothing buffered may be written twice
  pid_t pid = fork();
  if (pid < 0) {
    LogMessage("Fork failed when tried to execute external command");
    return;
  }
  if (pid == 0) RunCommandInChild(command);
  if (child_wait_agent) new OVKChildHandler(pid, child_wait_agent);
}
