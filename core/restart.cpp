#include "core/restart.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/log.h"

static std::string start_directory;

ScriptVariable CurrentDirectory() {
  size_t size = 32;
  char *buf = static_cast<char *>(malloc(size));
  while (buf && !getcwd(buf, size)) {
    if (errno != ERANGE) {
      free(buf);
      return ScriptVariable();
    }
    size += 2;
    char *bigger = static_cast<char *>(realloc(buf, size));
    if (!bigger) free(buf);
    buf = bigger;
  }
  if (!buf) return ScriptVariable();
  ScriptVariable result(buf);
  free(buf);
  return result;
}

void RememberStartDirectory() { start_directory = CurrentDirectory().Str(); }

ScriptVariable StartDirectory() { return ScriptVariable(start_directory); }

ScriptVariable AbsoluteProgramPath(const char *argv0) {
  if (argv0[0] == '/' || !strchr(argv0, '/')) return ScriptVariable(argv0);
  ScriptVariable cwd = CurrentDirectory();
  if (cwd.IsEmpty()) return ScriptVariable(argv0);  // better than "/" + argv0
  return cwd + "/" + argv0;
}

void MarkCloseOnExec(int fd) {
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

static int DescriptorLimit() {
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return 256;
  // The kernel never allows more than about a million descriptors; an
  // unlimited soft limit must not make the loop endless.
  if (rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur > (1u << 20)) return 1 << 20;
  return static_cast<int>(rl.rlim_cur);
}

void CloseDescriptorsExcept(int keep_fd) {
  int limit = DescriptorLimit();
  for (int fd = 3; fd < limit; fd++)
    if (fd != keep_fd) close(fd);
}

void RestartInPlace(char **argv, const ScriptVariable &program_path) {
  argv[0] = strdup(program_path.c_str());
  FlushLog();
  if (!start_directory.empty() && chdir(start_directory.c_str()) != 0)
    LogMessage("Restart: cannot return to %s: %s", start_directory.c_str(),
               strerror(errno));
  int log_fd = LogFileNumber();
  CloseDescriptorsExcept(log_fd);
  if (log_fd >= 0) MarkCloseOnExec(log_fd);
  // A pending alarm survives exec; the new image may run without a
  // watchdog, and its own watchdog sets the alarm afresh.
  alarm(0);
  // A name without a slash was found through PATH, which need not find the
  // same program now; the running program itself is always at hand.
  execv(strchr(argv[0], '/') ? argv[0] : "/proc/self/exe", argv);
  LogMessage("Restarting (with argv[0]==%s) failed", argv[0]);
  exit(1);
}
