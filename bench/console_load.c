/* Load client of the console benchmark: CLIENTS connections to a line
 * server on 127.0.0.1, each sending one command line and waiting for its
 * answer line before sending the next (closed loop).  Counts the answers
 * completed during the measured interval and prints
 *
 *   commands_per_second=N clients=C seconds=S
 *
 *   console_load -p PORT [-c CLIENTS] [-d SECONDS] [-w WARMUP_SECONDS]
 *                [-m COMMAND] [-e EXPECTED_PREFIX] [-g GREETING_LINES]
 *
 * Every answer line must begin with EXPECTED_PREFIX (default: COMMAND
 * itself, which is what an echo server sends back); any other line makes
 * the run fail, so a refused command is never counted as served.  The
 * first GREETING_LINES lines of each connection (default 0) are skipped.
 * epoll keeps the client cheap next to the server it measures.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "monotonic.h"

struct client {
  int fd;
  size_t line_pos; /* bytes of the current answer line seen so far */
  int line_ok;     /* the current line still matches the expected prefix */
};

static const char *expected;
static size_t expected_len;

static void send_line(int fd, const char *line, size_t len) {
  if (write(fd, line, len) != (ssize_t)len) {
    perror("write");
    exit(1);
  }
}

/* Connects and runs one exchange before the next connection is made: the
 * answer proves the server has accepted this connection, so a server slow
 * to accept on a busy machine never sees more pending connections than its
 * small listen backlog holds (the kernel would drop the rest for a second).
 * The greeting lines and that first answer are consumed here. */
static int connect_one(int port, const char *line, size_t len, int greeting) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons((unsigned short)port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, (struct sockaddr *)&addr, sizeof addr) < 0) {
    perror("connect");
    exit(1);
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  struct timeval tv = {.tv_sec = 5, .tv_usec = 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  send_line(fd, line, len);
  for (int lines = 0; lines < greeting + 1;) {
    char c;
    if (read(fd, &c, 1) != 1) {
      fprintf(stderr, "console_load: no first answer\n");
      exit(1);
    }
    lines += c == '\n';
  }
  fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

/* Returns the number of answer lines completed by these bytes. */
static int scan(struct client *c, const char *buf, ssize_t n) {
  int done = 0;
  for (ssize_t i = 0; i < n; i++) {
    if (buf[i] == '\n') {
      if (!c->line_ok || c->line_pos < expected_len) {
        fprintf(stderr, "console_load: unexpected answer line\n");
        exit(1);
      }
      done++;
      c->line_pos = 0;
      c->line_ok = 1;
      continue;
    }
    if (c->line_pos < expected_len && buf[i] != expected[c->line_pos])
      c->line_ok = 0;
    c->line_pos++;
  }
  return done;
}

int main(int argc, char **argv) {
  int port = 0, clients = 1, greeting = 0;
  double seconds = 5, warmup = 1;
  const char *command = "help";
  expected = NULL;
  int opt;
  while ((opt = getopt(argc, argv, "p:c:d:w:m:e:g:")) != -1) {
    switch (opt) {
      case 'p':
        port = atoi(optarg);
        break;
      case 'c':
        clients = atoi(optarg);
        break;
      case 'd':
        seconds = atof(optarg);
        break;
      case 'w':
        warmup = atof(optarg);
        break;
      case 'm':
        command = optarg;
        break;
      case 'e':
        expected = optarg;
        break;
      case 'g':
        greeting = atoi(optarg);
        break;
      default:
        fprintf(stderr,
                "usage: console_load -p PORT [-c CLIENTS] [-d SECONDS] "
                "[-w WARMUP] [-m COMMAND] [-e PREFIX] [-g LINES]\n");
        return 1;
    }
  }
  if (port <= 0 || clients <= 0) {
    fprintf(stderr, "console_load: need -p PORT and a positive -c\n");
    return 1;
  }
  if (!expected) expected = command;
  expected_len = strlen(expected);
  char line[1024];
  int len = snprintf(line, sizeof line, "%s\n", command);

  int ep = epoll_create1(0);
  struct client *cs = calloc((size_t)clients, sizeof *cs);
  for (int i = 0; i < clients; i++) {
    cs[i].fd = connect_one(port, line, (size_t)len, greeting);
    cs[i].line_ok = 1;
    struct epoll_event ev = {.events = EPOLLIN, .data.ptr = &cs[i]};
    epoll_ctl(ep, EPOLL_CTL_ADD, cs[i].fd, &ev);
  }
  for (int i = 0; i < clients; i++) send_line(cs[i].fd, line, (size_t)len);

  double start = now();
  double measure_from = start + warmup, end = measure_from + seconds;
  long counted = 0;
  struct epoll_event evs[256];
  for (;;) {
    double t = now();
    if (t >= end) break;
    int n = epoll_wait(ep, evs, 256, 1000);
    if (n < 0 && errno != EINTR) {
      perror("epoll_wait");
      return 1;
    }
    if (n == 0) {
      fprintf(stderr, "console_load: no answer for a second\n");
      return 1;
    }
    int measuring = now() >= measure_from;
    for (int i = 0; i < n; i++) {
      struct client *c = evs[i].data.ptr;
      char buf[4096];
      ssize_t got = read(c->fd, buf, sizeof buf);
      if (got == 0) {
        fprintf(stderr, "console_load: the server closed a connection\n");
        return 1;
      }
      if (got < 0) {
        if (errno == EAGAIN) continue;
        perror("read");
        return 1;
      }
      int done = scan(c, buf, got);
      if (measuring) counted += done;
      for (int k = 0; k < done; k++) send_line(c->fd, line, (size_t)len);
    }
  }
  for (int i = 0; i < clients; i++) close(cs[i].fd);
  close(ep);
  free(cs);
  printf("commands_per_second=%.0f clients=%d seconds=%.1f\n",
         (double)counted / seconds, clients, seconds);
  return 0;
}
