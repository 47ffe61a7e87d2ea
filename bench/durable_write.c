/* The bare cost of a durable replace on one directory: write a small file
 * under a temporary name, fsync it, rename it over the old one, as fast as
 * possible for SECONDS, and print
 *
 *   ops_per_second=N
 *
 *   durable_write DIR SECONDS [dir]
 *
 * It is the floor of what saving the state file after every state change
 * can cost on that disk.  With "dir" it also fsyncs the directory after
 * each rename, as the daemon does so that a power cut cannot bring the old
 * file back.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "monotonic.h"

int main(int argc, char **argv) {
  if (argc != 3 && !(argc == 4 && strcmp(argv[3], "dir") == 0)) {
    fprintf(stderr, "usage: durable_write DIR SECONDS [dir]\n");
    return 2;
  }
  int dir = -1;
  if (argc == 4 &&
      (dir = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
    perror(argv[1]);
    return 1;
  }
  char tmp[4096], final[4096];
  snprintf(tmp, sizeof tmp, "%s/durable.tmp", argv[1]);
  snprintf(final, sizeof final, "%s/durable", argv[1]);
  const char text[] = "security.disarmed heat.eco bench.a\n";
  double end = now() + atof(argv[2]), start = now();
  long ops = 0;
  while (now() < end) {
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, text, strlen(text)) != (ssize_t)strlen(text) ||
        fsync(fd) != 0 || close(fd) != 0 || rename(tmp, final) != 0 ||
        (dir >= 0 && fsync(dir) != 0)) {
      perror(tmp);
      return 1;
    }
    ops++;
  }
  unlink(final);
  printf("ops_per_second=%.0f\n", ops / (now() - start));
  return 0;
}
