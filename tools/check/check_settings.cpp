// The single-instance sections: numbers that would silently fall back to
// their defaults, the listening ports, and the SMS spool directories.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/configuration.h"
#include "tools/check/check.h"

namespace {

void CheckNumber(CheckContext &c, const char *type, const char *key,
                 long dflt) {
  const ConfigIndex::Section *s = c.index.Find(type, nullptr);
  if (s == nullptr) return;
  ScriptVariable value = ConfigString(type, nullptr, key, "");
  long n;
  if (!value.IsEmpty() && !value.GetLong(n))
    c.findings.Warning(c.Line(*s, key),
                       std::string(type) + " " + key + " = " + value.Str() +
                           " is not a whole number; the daemon uses " +
                           std::to_string(dflt));
}

// Binds the address the way the daemon's listener does.
void CheckPort(CheckContext &c, const char *type, const ScriptVariable &ip,
               long port) {
  const ConfigIndex::Section *s = c.index.Find(type, nullptr);
  int line = s ? c.Line(*s, "port") : 0;
  std::string where = std::string(type) + " " + ip.Str() + ":" +
                      std::to_string(port);
  if (port < 0 || port > 65535) {
    c.findings.Error(line, where + ": no such port");
    return;
  }
  in_addr_t address = inet_addr(ip.c_str());
  if (address == INADDR_NONE && ip != "255.255.255.255") {
    c.findings.Error(s ? c.Line(*s, "ip") : 0,
                     where + ": not an IPv4 address");
    return;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = address;
  if (bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(fd, 1) != 0) {
    int error = errno;
    c.findings.Error(line, where + ": cannot listen: " + strerror(error) +
                               (error == EADDRINUSE
                                    ? " (another program, or hovantra "
                                      "already running)"
                                    : ""));
  }
  close(fd);
}

void CheckDirectory(CheckContext &c, const char *key,
                    const ScriptVariable &dir, const char *use) {
  if (dir.IsEmpty()) return;
  const ConfigIndex::Section *s = c.index.Find("sms", nullptr);
  int line = s ? c.Line(*s, key) : 0;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    c.findings.Warning(line, "sms " + std::string(key) + " directory " +
                                 dir.Str() + " does not exist; " + use);
  else if (access(dir.c_str(), W_OK | X_OK) != 0)
    c.findings.Warning(line, "sms " + std::string(key) + " directory " +
                                 dir.Str() + " is not writable for this user; " +
                                 use);
}

}  // namespace

void CheckSettings(CheckContext &c) {
  CheckNumber(c, "general", "watchdog", 30);
  CheckNumber(c, "console", "port", 7280);
  CheckNumber(c, "console", "timeout", 60);
  CheckNumber(c, "webserver", "port", 7281);

  if (ConsolePort() == WebserverPort() && ConsolePort() != 0 &&
      ConsoleIp() == WebserverIp()) {
    const ConfigIndex::Section *s = c.index.Find("webserver", nullptr);
    c.findings.Error(s ? c.Line(*s, "port") : 0,
                     "the console and the web interface share port " +
                         std::to_string(WebserverPort()));
  } else {
    CheckPort(c, "console", ConsoleIp(), ConsolePort());
    CheckPort(c, "webserver", WebserverIp(), WebserverPort());
  }

  if (ConfigString("webserver", nullptr, "users", "").IsEmpty()) {
    const ConfigIndex::Section *s = c.index.Find("webserver", nullptr);
    c.findings.Note(s ? s->line : 0,
                    "webserver has no users yet: pages that are not public "
                    "ask for a password nobody has");
  }

  if (c.notifications_used) {
    CheckDirectory(c, "composing", SmsComposing(),
                   "notifications cannot be written");
    CheckDirectory(c, "outgoing", SmsOutgoing(),
                   "notifications cannot be queued");
  }
  if (!SmsIncoming().IsEmpty()) {
    CheckDirectory(c, "incoming", SmsIncoming(), "received SMS are not read");
    CheckDirectory(c, "proceeded", SmsProceeded(),
                   "received SMS cannot be put aside");
  }
  if (!SmsFailed().IsEmpty())
    CheckDirectory(c, "failed", SmsFailed(), "failed SMS are not resent");
}
