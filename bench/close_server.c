/* The ceiling of one-request-per-connection HTTP on the machine: a
 * one-thread epoll server that accepts, reads the request head, writes one
 * fixed answer and closes.  No parsing beyond the blank line, no log.
 *
 *   close_server PORT FILE SECONDS
 *
 * The answer is "200 OK" with FILE as its body.  The server ends by itself
 * after SECONDS.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kMaxFd = 65536, kHeadMax = 8192 };

static char *answer;
static size_t answer_len;
static char *heads[kMaxFd]; /* what arrived so far, per connection */
static size_t head_len[kMaxFd];

static void load_answer(const char *file) {
  FILE *f = fopen(file, "rb");
  if (!f) {
    perror(file);
    exit(1);
  }
  static char body[1 << 20];
  size_t n = fread(body, 1, sizeof body, f);
  fclose(f);
  char head[256];
  int h = snprintf(head, sizeof head,
                   "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                   "Content-Length: %zu\r\n\r\n",
                   n);
  answer = malloc(h + n);
  memcpy(answer, head, h);
  memcpy(answer + h, body, n);
  answer_len = h + n;
}

static void finish(int fd) {
  free(heads[fd]);
  heads[fd] = NULL;
  head_len[fd] = 0;
  close(fd);
}

/* Reads what is there; answers and closes once the head is complete.
 * Returns 1 while the connection waits for more. */
static int serve(int fd) {
  if (!heads[fd]) heads[fd] = malloc(kHeadMax + 1);
  for (;;) {
    ssize_t n = read(fd, heads[fd] + head_len[fd], kHeadMax - head_len[fd]);
    if (n < 0 && errno == EAGAIN) return 1;
    if (n <= 0 || head_len[fd] + n >= kHeadMax) {
      finish(fd);
      return 0;
    }
    head_len[fd] += n;
    heads[fd][head_len[fd]] = 0;
    if (strstr(heads[fd], "\r\n\r\n")) {
      ssize_t w = write(fd, answer, answer_len);
      (void)w; /* the answer fits the socket buffer of a fresh connection */
      finish(fd);
      return 0;
    }
  }
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: close_server PORT FILE SECONDS\n");
    return 2;
  }
  load_answer(argv[2]);
  time_t end = time(NULL) + atoi(argv[3]);
  int lfd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(atoi(argv[1]));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(lfd, (struct sockaddr *)&addr, sizeof addr) != 0 ||
      listen(lfd, 511) != 0) {
    perror("bind/listen");
    return 1;
  }
  int ep = epoll_create1(0);
  struct epoll_event ev = {.events = EPOLLIN, .data.fd = lfd};
  epoll_ctl(ep, EPOLL_CTL_ADD, lfd, &ev);
  struct epoll_event ready[64];
  while (time(NULL) < end) {
    int n = epoll_wait(ep, ready, 64, 1000);
    for (int i = 0; i < n; i++) {
      int fd = ready[i].data.fd;
      if (fd != lfd) {
        serve(fd); /* closing takes it out of the epoll set */
        continue;
      }
      for (;;) {
        int c = accept4(lfd, NULL, NULL, SOCK_NONBLOCK);
        if (c < 0) break;
        if (c >= kMaxFd) {
          close(c);
          continue;
        }
        if (serve(c)) {
          struct epoll_event cev = {.events = EPOLLIN, .data.fd = c};
          epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
        }
      }
    }
  }
  return 0;
}
