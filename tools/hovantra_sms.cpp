// hovantra-sms: plays the SMS gateway's side of the spool directories, so
// the daemon's SMS paths can be driven without a modem.
//
//   deliver   a received message into the incoming directory
//   unlock    drop the lock file of a delivered message
//   list      what waits in the outgoing directory
//   send      "send" it: move it into the sent directory and print it
//   fail      move it into the failed directory with Failed/Fail_reason
//
// The directories come from the [sms] section of a configuration file given
// with -c, or from options, which win.  Files appear in the daemon's
// directories only by rename (or under a lock), never half-written.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "sms/sms_message.h"
#include "util/kernel_random.h"

namespace {

const char kUsage[] =
    "usage: hovantra-sms [-c config] [-i incoming] [-o outgoing] [-F failed]\n"
    "                    [-s sent] command [arguments]\n"
    "commands:\n"
    "  deliver [-u] [-l] FROM TEXT...  put a received message into incoming\n"
    "                                  (-u: Alphabet: UCS2, -l: leave it "
    "locked)\n"
    "  unlock NAME                     remove NAME.LOCK from incoming\n"
    "  list                            show what waits in outgoing\n"
    "  send [NAME...]                  move waiting messages to the sent "
    "directory\n"
    "  fail [-r REASON] [NAME...]      move waiting messages to failed\n";

struct Dirs {
  std::string incoming, outgoing, failed, sent;
};

int Usage() {
  fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string &what, const std::string &path) {
  fprintf(stderr, "hovantra-sms: %s %s: %s\n", what.c_str(), path.c_str(),
          strerror(errno));
  return 1;
}

// UTF-8 to UTF-16, high byte first; malformed bytes become U+FFFD.
std::string EncodeUcs2(const std::string &text) {
  std::string out;
  auto put = [&out](unsigned unit) {
    out += static_cast<char>(unit >> 8);
    out += static_cast<char>(unit & 0xff);
  };
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80         ? 0
                : (c >> 5) == 6  ? 1
                : (c >> 4) == 14 ? 2
                : (c >> 3) == 30 ? 3
                                 : -1;
    unsigned code = extra == 0   ? c
                    : extra == 1 ? c & 0x1f
                    : extra == 2 ? c & 0x0f
                                 : c & 0x07;
    bool ok = extra >= 0 && i + extra < text.size();
    for (int k = 1; ok && k <= extra; k++) {
      unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d >> 6) != 2) ok = false;
      code = (code << 6) | (d & 0x3f);
    }
    if (!ok) {
      put(0xfffd);
      i++;
      continue;
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xd800 | (code >> 10));
      put(0xdc00 | (code & 0x3ff));
    } else {
      put(code);
    }
  }
  return out;
}

bool WriteFile(const std::string &path, const SmsMessage &m, int flags) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0666);
  if (fd < 0) return false;
  std::string bytes = m.Serialize();
  bool ok = write(fd, bytes.data(), bytes.size()) ==
            static_cast<ssize_t>(bytes.size());
  int saved = errno;
  if (close(fd) != 0) ok = false;
  if (!ok) errno = saved;
  return ok;
}

// Writes a hidden temporary beside path and renames it into place.
bool WriteAtomically(const std::string &dir, const std::string &name,
                     const SmsMessage &m) {
  std::string tmp = dir + "/.tmp." + name;
  if (!WriteFile(tmp, m, O_TRUNC)) return false;
  if (rename(tmp.c_str(), (dir + "/" + name).c_str()) != 0) {
    int saved = errno;
    unlink(tmp.c_str());
    errno = saved;
    return false;
  }
  return true;
}

// Regular files not starting with a dot, sorted.
std::vector<std::string> Waiting(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (!d) return names;
  while (struct dirent *e = readdir(d)) {
    std::string name = e->d_name;
    struct stat st;
    bool lock = name.size() > 5 && name.substr(name.size() - 5) == ".LOCK";
    if (name[0] == '.' || lock) continue;
    if (stat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
      names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

void Show(const char *verb, const std::string &name, const SmsMessage &m) {
  ScriptVariable to = m.GetHeader("To");
  ScriptVariable attempt = m.GetHeader("Attempt");
  printf("%s%s to [%s]", verb, name.c_str(), to.IsAbsent() ? "" : to.c_str());
  if (!attempt.IsAbsent()) printf(" attempt %s", attempt.c_str());
  printf(": [%s]\n", m.BodyText().c_str());
}

int Deliver(const Dirs &dirs, std::vector<std::string> args) {
  bool ucs2 = false, locked = false;
  while (!args.empty() && (args[0] == "-u" || args[0] == "-l")) {
    (args[0] == "-u" ? ucs2 : locked) = true;
    args.erase(args.begin());
  }
  if (args.size() < 2 || dirs.incoming.empty()) return Usage();
  std::string text = args[1];
  for (size_t i = 2; i < args.size(); i++) text += " " + args[i];

  SmsMessage m;
  m.SetHeader("From", args[0]);
  if (ucs2) m.SetHeader("Alphabet", "UCS2");
  m.AppendBody(ucs2 ? EncodeUcs2(text) : text);

  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int tries = 0; tries < 100; tries++) {
    std::string name = "GSM1.";
    for (int i = 0; i < 6; i++)
      name += kChars[KernelRandom31() % (sizeof kChars - 1)];
    std::string path = dirs.incoming + "/" + name;
    if (access(path.c_str(), F_OK) == 0) continue;
    if (locked) {
      std::string lock = path + ".LOCK";
      int fd = open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return Fail("cannot create", lock);
      }
      close(fd);
      if (!WriteFile(path, m, O_EXCL)) return Fail("cannot write", path);
    } else if (!WriteAtomically(dirs.incoming, name, m)) {
      return Fail("cannot write", path);
    }
    printf("%s\n", name.c_str());
    return 0;
  }
  errno = EEXIST;
  return Fail("no free name in", dirs.incoming);
}

int Unlock(const Dirs &dirs, const std::vector<std::string> &args) {
  if (args.size() != 1 || dirs.incoming.empty()) return Usage();
  std::string lock = dirs.incoming + "/" + args[0] + ".LOCK";
  if (unlink(lock.c_str()) != 0) return Fail("cannot remove", lock);
  return 0;
}

int List(const Dirs &dirs) {
  for (const std::string &name : Waiting(dirs.outgoing)) {
    SmsMessage m;
    if (m.ReadFile((dirs.outgoing + "/" + name).c_str())) Show("", name, m);
  }
  return 0;
}

// The named messages, or all that wait when none is named.
std::vector<std::string> Chosen(const Dirs &dirs,
                                const std::vector<std::string> &args) {
  return args.empty() ? Waiting(dirs.outgoing) : args;
}

int Send(const Dirs &dirs, const std::vector<std::string> &args) {
  mkdir(dirs.sent.c_str(), 0777);
  int status = 0;
  for (const std::string &name : Chosen(dirs, args)) {
    std::string from = dirs.outgoing + "/" + name;
    SmsMessage m;
    if (!m.ReadFile(from.c_str())) {
      status = Fail("cannot read", from);
      continue;
    }
    if (rename(from.c_str(), (dirs.sent + "/" + name).c_str()) != 0) {
      status = Fail("cannot move", from);
      continue;
    }
    Show("sent ", name, m);
  }
  return status;
}

int FailMessages(const Dirs &dirs, std::vector<std::string> args) {
  std::string reason = "simulated failure";
  if (args.size() >= 2 && args[0] == "-r") {
    reason = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (dirs.failed.empty()) return Usage();
  char date[32];
  time_t now = time(nullptr);
  strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", localtime(&now));
  int status = 0;
  for (const std::string &name : Chosen(dirs, args)) {
    std::string from = dirs.outgoing + "/" + name;
    SmsMessage m;
    if (!m.ReadFile(from.c_str())) {
      status = Fail("cannot read", from);
      continue;
    }
    m.SetHeader("Failed", date);
    m.SetHeader("Fail_reason", reason);
    if (!WriteAtomically(dirs.failed, name, m)) {
      status = Fail("cannot write", dirs.failed + "/" + name);
      continue;
    }
    unlink(from.c_str());
    Show("failed ", name, m);
  }
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  std::string config, incoming, outgoing, failed, sent;
  bool have_in = false, have_out = false, have_failed = false;
  int opt;
  while ((opt = getopt(argc, argv, "+c:i:o:F:s:h")) != -1) {
    switch (opt) {
      case 'c':
        config = optarg;
        break;
      case 'i':
        incoming = optarg;
        have_in = true;
        break;
      case 'o':
        outgoing = optarg;
        have_out = true;
        break;
      case 'F':
        failed = optarg;
        have_failed = true;
        break;
      case 's':
        sent = optarg;
        break;
      default:
        return Usage();
    }
  }
  if (optind >= argc) return Usage();
  if (!config.empty() && !LoadConfiguration(config.c_str())) return 1;

  Dirs dirs;
  dirs.incoming = have_in ? incoming : SmsIncoming().Str();
  dirs.outgoing = have_out ? outgoing : SmsOutgoing().Str();
  dirs.failed = have_failed ? failed : SmsFailed().Str();
  dirs.sent = sent.empty() ? dirs.outgoing + "_sent" : sent;

  std::string command = argv[optind];
  std::vector<std::string> args(argv + optind + 1, argv + argc);
  if (command == "deliver") return Deliver(dirs, args);
  if (command == "unlock") return Unlock(dirs, args);
  if (command == "list" && args.empty()) return List(dirs);
  if (command == "send") return Send(dirs, args);
  if (command == "fail") return FailMessages(dirs, args);
  return Usage();
}
