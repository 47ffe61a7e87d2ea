// LogCapture: the daemon's libraries explain a value they refuse in their
// log.  While a capture lives, the log goes to a private temporary file and
// Take gives the lines written since the last call, without time stamps.
#ifndef HOVANTRA_TOOLS_CHECK_LOG_CAPTURE_H
#define HOVANTRA_TOOLS_CHECK_LOG_CAPTURE_H

#include <string>
#include <vector>

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<std::string> Take();
  // The lines joined with "; ".
  std::string TakeText();

 private:
  int fd_ = -1;  // read side of the log file, -1 when none could be made
  std::string pending_;
};

#endif
