#include "core/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

static FILE *log_stream = nullptr;  // nullptr: stderr
static long flood_counter = 0;      // -1 while silenced
static const long kFloodLimit = 500;

static FILE *Stream() { return log_stream ? log_stream : stderr; }

// "Mon DD HH:MM:SS " with its trailing blank.
static void FormatTimestamp(char (&stamp)[64]) {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  strftime(stamp, sizeof stamp, "%b %d %H:%M:%S ", &local);
}

void OpenLogFile(const char *path) {
  if (log_stream) fclose(log_stream);
  log_stream = nullptr;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0666);
  if (fd < 0) return;
  log_stream = fdopen(fd, "w");
  if (!log_stream) close(fd);
}

void LogMessage(const char *format, ...) {
  if (flood_counter == -1) return;
  FILE *f = Stream();
  char stamp[64];
  FormatTimestamp(stamp);
  fprintf(f, "%s [%ld] ", stamp, flood_counter);
  flood_counter++;
  if (flood_counter > kFloodLimit) {
    fputs("TOO MANY MESSAGES\n", f);
    flood_counter = -1;
  } else {
    va_list ap;
    va_start(ap, format);
    vfprintf(f, format, ap);
    va_end(ap);
    fputc('\n', f);
  }
  fflush(f);
}

void LogResume() {
  if (flood_counter == -1) {
    FILE *f = Stream();
    char stamp[64];
    FormatTimestamp(stamp);
    fprintf(f, "%s...RESUMING\n", stamp);
    fflush(f);
  }
  flood_counter = 0;
}

bool LogSilenced() { return flood_counter == -1; }

void FlushLog() { fflush(Stream()); }

int LogFileNumber() { return log_stream ? fileno(log_stream) : -1; }

void ResetLog() {
  if (log_stream) fclose(log_stream);
  log_stream = nullptr;
  flood_counter = 0;
}
