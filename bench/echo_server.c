/* The peer of the console benchmark: a minimal one-thread select() server
 * that answers every line with the same line.  It does the least any line
 * console must do (accept, read, split lines, write back), so its rate is
 * the ceiling for one-thread select on the machine it runs on.
 *
 *   echo_server PORT [SECONDS]
 *
 * Listens on 127.0.0.1:PORT and exits by itself after SECONDS (default 600).
 */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#define BUF 4096

struct conn {
  int fd;
  char in[BUF];
  int in_len;
  char out[BUF];
  int out_len;
};

static struct conn *conns[FD_SETSIZE];

static void drop(int fd) {
  close(fd);
  free(conns[fd]);
  conns[fd] = NULL;
}

/* Moves every complete line of the input to the output. */
static void echo_lines(struct conn *c) {
  int start = 0;
  for (int i = 0; i < c->in_len; i++) {
    if (c->in[i] != '\n') continue;
    int n = i + 1 - start;
    if (c->out_len + n > BUF) break; /* the rest waits for the writer */
    memcpy(c->out + c->out_len, c->in + start, (size_t)n);
    c->out_len += n;
    start = i + 1;
  }
  memmove(c->in, c->in + start, (size_t)(c->in_len - start));
  c->in_len -= start;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: echo_server PORT [SECONDS]\n");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  alarm(argc > 2 ? (unsigned)atoi(argv[2]) : 600);

  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons((unsigned short)atoi(argv[1]));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(lfd, (struct sockaddr *)&addr, sizeof addr) < 0 ||
      listen(lfd, 5) < 0) {
    perror("echo_server");
    return 1;
  }

  for (;;) {
    fd_set rd, wr;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_SET(lfd, &rd);
    int maxfd = lfd;
    for (int fd = 0; fd < FD_SETSIZE; fd++) {
      struct conn *c = conns[fd];
      if (!c) continue;
      if (c->in_len < BUF) FD_SET(fd, &rd);
      if (c->out_len > 0) FD_SET(fd, &wr);
      if (fd > maxfd) maxfd = fd;
    }
    if (select(maxfd + 1, &rd, &wr, NULL, NULL) < 0) {
      if (errno == EINTR) continue;
      perror("select");
      return 1;
    }
    if (FD_ISSET(lfd, &rd)) {
      int fd = accept(lfd, NULL, NULL);
      if (fd >= FD_SETSIZE) {
        close(fd);
      } else if (fd >= 0) {
        fcntl(fd, F_SETFL, O_NONBLOCK);
        conns[fd] = calloc(1, sizeof(struct conn));
        conns[fd]->fd = fd;
      }
    }
    for (int fd = 0; fd <= maxfd; fd++) {
      struct conn *c = conns[fd];
      if (!c) continue;
      if (FD_ISSET(fd, &rd)) {
        ssize_t n = read(fd, c->in + c->in_len, (size_t)(BUF - c->in_len));
        if (n <= 0) {
          drop(fd);
          continue;
        }
        c->in_len += (int)n;
        echo_lines(c);
      }
      if (c->out_len > 0) {
        ssize_t n = write(fd, c->out, (size_t)c->out_len);
        if (n < 0 && errno != EAGAIN) {
          drop(fd);
          continue;
        }
        if (n > 0) {
          memmove(c->out, c->out + n, (size_t)(c->out_len - n));
          c->out_len -= (int)n;
          echo_lines(c);
        }
      }
    }
  }
}
