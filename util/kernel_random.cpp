#include "util/kernel_random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace {

ssize_t SystemGetrandom(void *buf, size_t len, unsigned flags) {
  return getrandom(buf, len, flags);
}

KernelGetrandom get_random = SystemGetrandom;

bool ReadUrandom(uint32_t *value) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t got;
  do {
    got = read(fd, value, sizeof *value);
  } while (got < 0 && errno == EINTR);
  close(fd);
  return got == static_cast<ssize_t>(sizeof *value);
}

}  // namespace

void SetKernelGetrandomForTesting(KernelGetrandom fn) {
  get_random = fn != nullptr ? fn : SystemGetrandom;
}

unsigned KernelRandom31() {
  uint32_t value = 0;
  ssize_t got = -1;
  do {
    got = get_random(&value, sizeof value, GRND_NONBLOCK);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof value) && !ReadUrandom(&value))
    value ^= static_cast<uint32_t>(time(nullptr)) * 2654435761u;
  return value & 0x7fffffff;
}
