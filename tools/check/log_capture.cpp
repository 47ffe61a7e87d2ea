#include "tools/check/log_capture.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/log.h"

LogCapture::LogCapture() {
  const char *tmp = getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") +
                     "/hovantra-check-XXXXXX";
  fd_ = mkstemp(&path[0]);
  if (fd_ < 0) return;
  OpenLogFile(path.c_str());
  unlink(path.c_str());
  if (LogFileNumber() < 0) {
    close(fd_);
    fd_ = -1;
  }
}

LogCapture::~LogCapture() {
  ResetLog();
  if (fd_ >= 0) close(fd_);
}

std::vector<std::string> LogCapture::Take() {
  std::vector<std::string> lines;
  if (fd_ < 0) return lines;
  FlushLog();
  char buf[4096];
  ssize_t n;
  while ((n = read(fd_, buf, sizeof buf)) > 0) pending_.append(buf, n);
  size_t start = 0, end;
  while ((end = pending_.find('\n', start)) != std::string::npos) {
    std::string line = pending_.substr(start, end - start);
    start = end + 1;
    // "Mon DD HH:MM:SS [N] text": the text follows the first "] ".
    size_t mark = line.find("] ");
    if (mark == std::string::npos) continue;  // "...RESUMING"
    lines.push_back(line.substr(mark + 2));
  }
  pending_.erase(0, start);
  LogResume();  // a long check must not trip the flood guard
  return lines;
}

std::string LogCapture::TakeText() {
  std::string text;
  for (const std::string &line : Take()) {
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text;
}
