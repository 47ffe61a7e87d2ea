#include "util/kernel_random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

unsigned KernelRandom31() {
  uint32_t value = 0;
  ssize_t got = -1;
  do {
    got = getrandom(&value, sizeof value, 0);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof value)) {
    // Kernels without getrandom still have the device.
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      if (read(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value))
        value ^= static_cast<uint32_t>(time(nullptr)) * 2654435761u;
      close(fd);
    }
  }
  return value & 0x7fffffff;
}
