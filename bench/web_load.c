/* Load client of the web benchmark: CLIENTS connections to an HTTP server
 * on 127.0.0.1, each making one request, reading the answer until the
 * server closes the connection, and then connecting again (closed loop).
 * Counts the answers completed during the measured interval and prints
 *
 *   requests_per_second=N clients=C seconds=S
 *
 *   web_load -p PORT -u PATH [-c CLIENTS] [-d SECONDS] [-w WARMUP_SECONDS]
 *            [-H HEADER]... [-l MIN_BYTES]
 *
 * Every request says "Connection: close", so every server ends its answer
 * with the connection whether or not the answer gives its length: each
 * counted request costs every server exactly one connection.  An answer
 * whose status is not 2xx, or shorter than MIN_BYTES in all, makes the
 * run fail, so a refused request is never counted as served.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "monotonic.h"

struct client {
  int fd;
  int sent;      /* the request is written */
  size_t got;    /* answer bytes read so far */
  char head[16]; /* the answer's first bytes, for its status */
};

static struct sockaddr_in server;
static char request[8192];
static size_t request_len;
static size_t min_bytes;
static int ep;

static void fail(const char *what) {
  perror(what);
  exit(1);
}

/* A non-blocking connect; the request goes out once it is writable. */
static void start(struct client *c) {
  c->fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (c->fd < 0) fail("socket");
  int one = 1;
  setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(c->fd, (struct sockaddr *)&server, sizeof server) < 0 &&
      errno != EINPROGRESS)
    fail("connect");
  c->sent = 0;
  c->got = 0;
  struct epoll_event ev = {.events = EPOLLOUT, .data.ptr = c};
  if (epoll_ctl(ep, EPOLL_CTL_ADD, c->fd, &ev) < 0) fail("epoll_ctl");
}

static void send_request(struct client *c) {
  int error = 0;
  socklen_t len = sizeof error;
  getsockopt(c->fd, SOL_SOCKET, SO_ERROR, &error, &len);
  if (error != 0) {
    errno = error;
    fail("connect");
  }
  if (write(c->fd, request, request_len) != (ssize_t)request_len) fail("write");
  c->sent = 1;
  struct epoll_event ev = {.events = EPOLLIN, .data.ptr = c};
  if (epoll_ctl(ep, EPOLL_CTL_MOD, c->fd, &ev) < 0) fail("epoll_ctl");
}

/* Reads what has come; returns 1 once the server has closed after a whole
 * answer. */
static int receive(struct client *c) {
  char buf[16384];
  for (;;) {
    ssize_t n = read(c->fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EAGAIN) return 0;
      fail("read");
    }
    if (n == 0) break;
    if (c->got < sizeof c->head) {
      size_t take = sizeof c->head - c->got;
      memcpy(c->head + c->got, buf, (size_t)n < take ? (size_t)n : take);
    }
    c->got += (size_t)n;
  }
  if (c->got < min_bytes || c->got < 12 || memcmp(c->head, "HTTP/1.", 7) != 0 ||
      c->head[9] != '2') {
    fprintf(stderr, "web_load: unexpected answer (%zu bytes): %.12s\n", c->got,
            c->got ? c->head : "");
    exit(1);
  }
  close(c->fd);
  return 1;
}

int main(int argc, char **argv) {
  int port = 0, clients = 8;
  double seconds = 5, warmup = 1;
  const char *path = NULL;
  char headers[4096] = "";
  int opt;
  while ((opt = getopt(argc, argv, "p:u:c:d:w:H:l:")) != -1) {
    switch (opt) {
      case 'p':
        port = atoi(optarg);
        break;
      case 'u':
        path = optarg;
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
      case 'H':
        if (strlen(headers) + strlen(optarg) + 3 > sizeof headers) {
          fprintf(stderr, "web_load: headers too long\n");
          return 1;
        }
        strcat(headers, optarg);
        strcat(headers, "\r\n");
        break;
      case 'l':
        min_bytes = (size_t)atol(optarg);
        break;
      default:
        fprintf(stderr,
                "usage: web_load -p PORT -u PATH [-c CLIENTS] [-d SECONDS] "
                "[-w WARMUP] [-H HEADER]... [-l MIN_BYTES]\n");
        return 1;
    }
  }
  if (port <= 0 || clients <= 0 || path == NULL) {
    fprintf(stderr, "web_load: need -p PORT, -u PATH and a positive -c\n");
    return 1;
  }
  int len = snprintf(request, sizeof request,
                     "GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                     "Connection: close\r\n%s\r\n",
                     path, port, headers);
  if (len < 0 || (size_t)len >= sizeof request) {
    fprintf(stderr, "web_load: request too long\n");
    return 1;
  }
  request_len = (size_t)len;
  server.sin_family = AF_INET;
  server.sin_port = htons((unsigned short)port);
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  ep = epoll_create1(0);
  struct client *cs = calloc((size_t)clients, sizeof *cs);
  for (int i = 0; i < clients; i++) start(&cs[i]);

  double measure_from = now() + warmup, end = measure_from + seconds;
  long counted = 0;
  struct epoll_event evs[256];
  for (;;) {
    if (now() >= end) break;
    int n = epoll_wait(ep, evs, 256, 1000);
    if (n < 0 && errno != EINTR) fail("epoll_wait");
    if (n == 0) {
      fprintf(stderr, "web_load: no answer for a second\n");
      return 1;
    }
    int measuring = now() >= measure_from;
    for (int i = 0; i < n; i++) {
      struct client *c = evs[i].data.ptr;
      if (!c->sent) {
        send_request(c);
      } else if (receive(c)) {
        counted += measuring;
        start(c);
      }
    }
  }
  for (int i = 0; i < clients; i++) close(cs[i].fd);
  close(ep);
  free(cs);
  printf("requests_per_second=%.0f clients=%d seconds=%.1f\n",
         (double)counted / seconds, clients, seconds);
  return 0;
}
