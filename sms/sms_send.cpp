#include "sms/sms_send.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "config/configuration.h"
#include "core/log.h"
#include "core/process_state.h"
#include "sms/sms_message.h"

namespace {

long SystemClock() { return static_cast<long>(time(nullptr)); }

SmsClock clock_source = SystemClock;
long name_counter = 0;

// Enough to step over any run of names left by earlier sends in one second.
const int kMaxNameTries = 1000;

bool PathExists(const ScriptVariable &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool WriteAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Moves work to target unless target exists; 0 or the error number.
// link() never replaces a file.  File systems without hard links get a
// no-replace rename, and where even that is missing a plain rename after
// the caller's existence check.
int HandOver(const ScriptVariable &work, const ScriptVariable &target) {
  if (link(work.c_str(), target.c_str()) == 0) {
    unlink(work.c_str());
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  if (renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, target.c_str(),
                RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  return rename(work.c_str(), target.c_str()) == 0 ? 0 : errno;
}

ScriptVariable FileName(long now) {
  return ScriptFormat("HOVANTRA_OUTG.%d.%ld.%ld", static_cast<int>(getpid()),
                      now, name_counter);
}

enum Outcome { kSent, kNameTaken, kFailed };

// Writes bytes as the new file work and hands it over as target.
Outcome WriteAndHandOver(const ScriptVariable &work,
                         const ScriptVariable &target,
                         const std::string &bytes) {
  int fd = open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return kNameTaken;
    LogMessage("Couldn't open ``%s'' for writing: %s", work.c_str(),
               strerror(errno));
    return kFailed;
  }
  bool written = WriteAll(fd, bytes);
  int saved = errno;
  if (close(fd) != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written) {
    // A truncated message must never reach the gateway.
    LogMessage("Couldn't write ``%s'': %s", work.c_str(), strerror(saved));
    unlink(work.c_str());
    return kFailed;
  }
  int error = HandOver(work, target);
  if (error == 0) return kSent;
  if (error == EEXIST) {
    unlink(work.c_str());
    return kNameTaken;
  }
  LogMessage("Couldn't rename ``%s'' to ``%s'': %s", work.c_str(),
             target.c_str(), strerror(error));
  return kFailed;
}

}  // namespace

void SetSmsClock(SmsClock clock) { clock_source = clock ? clock : SystemClock; }

void ResetSmsSend() {
  clock_source = SystemClock;
  name_counter = 0;
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kSms, ResetSmsSend);

int sms_send(const ScriptVariable &to, const ScriptVariable &text) {
  SmsMessage message;
  message.SetHeader("To", to);
  message.AppendBody(text);
  return sms_send_message(message);
}

int sms_send_message(SmsMessage &message) {
  ScriptVariable outgoing = SmsOutgoing();
  ScriptVariable composing = SmsComposing();
  long now = clock_source();
  name_counter += now % 1000;
  ScriptVariable to = message.GetHeader("To");
  if (to.IsAbsent()) {
    LogMessage("Attempt to sent sms to nowhere");
    return 0;
  }
  std::string bytes = message.Serialize();
  ScriptVariable work;
  for (int tries = 0; tries < kMaxNameTries; tries++, name_counter++) {
    ScriptVariable name = FileName(now);
    work = composing + "/" + name;
    ScriptVariable target = outgoing + "/" + name;
    if (PathExists(work) || PathExists(target)) continue;
    LogMessage("Sending sms %s to [%s]: [%s]", name.c_str(), to.c_str(),
               message.BodyText().c_str());
    Outcome outcome = WriteAndHandOver(work, target, bytes);
    if (outcome != kNameTaken) return outcome == kSent ? 1 : 0;
  }
  LogMessage("Couldn't open ``%s'' for writing: %s", work.c_str(),
             strerror(EEXIST));
  return 0;
}
