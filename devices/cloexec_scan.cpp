#include "devices/cloexec_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *const kUsbDevicePrefixes[] = {"/dev/bus/usb/", "/proc/bus/usb/",
                                          nullptr};

int mark_cloexec_by_path(const char *const *prefixes) {
  DIR *d = opendir("/proc/self/fd");
  if (!d) return 0;
  int own = dirfd(d);
  int marked = 0;
  while (struct dirent *e = readdir(d)) {
    char *end = nullptr;
    long fd = strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0' || fd == own) continue;
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%ld", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    bool match = false;
    for (const char *const *p = prefixes; *p && !match; p++)
      match = strncmp(target, *p, strlen(*p)) == 0;
    if (!match) continue;
    int flags = fcntl(static_cast<int>(fd), F_GETFD);
    if (flags < 0 || (flags & FD_CLOEXEC)) continue;
    if (fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC) == 0) marked++;
  }
  closedir(d);
  return marked;
}
