#include "sms/smscmd_poller.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/log.h"
#include "core/log_text.h"
#include "sms/sms_message.h"
#include "sms/sms_send.h"
#include "sms/sms_text.h"

namespace {

// Resends after the first send; the first carries no Attempt header.
const long kMaxAttempt = 5;

// The caller text of the command processor that trusts a whole line.
const char kTrustedCaller[] = "trusted";

bool IncomingName(const std::string &name) {
  return name.size() == 11 && name.compare(0, 5, "GSM1.") == 0;
}

bool FailedName(const std::string &name) {
  ScriptVariable n(name);
  return n.HasPrefix("HOVANTRA_OUTG.") && !n.HasSuffix(".LOCK");
}

bool PathExists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void HandleReceived(const std::string &path, SmsCommandHandler handler) {
  SmsMessage message;
  if (!message.ReadFile(path.c_str())) {
    LogMessage("Couldn't open ``%s'' for reading, aborting: %s", path.c_str(),
               strerror(errno));
    return;
  }
  ScriptVariable sender = message.GetHeader("From");
  if (sender.IsAbsent()) {
    LogMessage(
        "SMS %s contained no From: field, will process as from "
        "hostile world",
        path.c_str());
    sender = "";
  }
  ScriptVariable text = SmsCommandText(message);
  LogMessage("Message from [%s] contained: ``%s''", LogSafe(sender).c_str(),
             LogCommandLine(text).c_str());
  if (!handler) return;
  // Anybody can write any From: the caller text that means a trusted line
  // is never taken from a phone.  Such a sender is as untrusted as one
  // without From, and the reply still goes to the sender.
  ScriptVariable caller =
      sender == kTrustedCaller ? ScriptVariable("") : sender;
  ScriptVariable response;
  if (handler(caller, text, response) == 2) {
    if (!sms_send(sender, response)) LogMessage("Couldn't respond, sorry...");
  }
}

void HandleFailed(const std::string &path, SmsCommandHandler) {
  SmsMessage message;
  if (!message.ReadFile(path.c_str())) {
    LogMessage("Couldn't open ``%s'' for reading, aborting: %s", path.c_str(),
               strerror(errno));
    return;
  }
  ScriptVariable to = message.GetHeader("To");
  if (to.IsAbsent()) {
    LogMessage("Found failed sms [%s] without ``To:'' header, skipping",
               path.c_str());
    return;
  }
  ScriptVariable date = message.GetHeader("Failed");
  if (date.IsAbsent()) date = "unknown";
  ScriptVariable reason = message.GetHeader("Fail_reason");
  if (reason.IsAbsent()) reason = "unknown";
  long attempt = 1;
  if (!message.GetHeader("Attempt").GetLong(attempt, 0)) attempt = 1;
  LogMessage("Found failed sms [%s], to %s, date %s, reason %s, att. %ld",
             path.c_str(), LogSafe(to).c_str(), LogSafe(date).c_str(),
             LogSafe(reason).c_str(), attempt);
  if (attempt > kMaxAttempt) {
    LogMessage("Tried too many times, skipping");
    return;
  }
  message.ClearHeaders();
  message.SetHeader("To", to);
  message.SetHeader("Attempt", ScriptFormat("%ld", attempt + 1));
  sms_send_message(message);
}

// Takes each accepted, unlocked file of dir through composing into
// proceeded, running the handler on it in between.
void ScanDirectory(const ScriptVariable &dir, const ScriptVariable &composing,
                   SpoolWatch &watch, bool (*accept)(const std::string &),
                   void (*handle)(const std::string &, SmsCommandHandler),
                   SmsCommandHandler command_handler) {
  if (!watch.NeedsListing(dir.c_str())) return;
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  // The handlers write into composing and may run commands; list first so
  // that nothing they do changes the walk.
  std::vector<std::string> names;
  bool nothing_to_take = true;
  while (struct dirent *entry = readdir(d)) {
    names.push_back(entry->d_name);
    if (accept(names.back())) nothing_to_take = false;
  }
  closedir(d);
  // A locked file, or one that could not be moved, is taken on a later
  // pass: only a listing without any such file lets the next ones be
  // skipped.
  watch.Listed(nothing_to_take);

  ScriptVariable proceeded = SmsProceeded();
  for (const std::string &name : names) {
    if (!accept(name)) continue;
    std::string from = dir.Str() + "/" + name;
    if (PathExists(from + ".LOCK")) {
      LogMessage("File %s locked, skipping", name.c_str());
      continue;
    }
    std::string work = composing.Str() + "/" + name;
    if (rename(from.c_str(), work.c_str()) != 0) {
      LogMessage("Couldn't rename ``%s'' to ``%s'', ignoring: %s", from.c_str(),
                 work.c_str(), strerror(errno));
      continue;
    }
    handle(work, command_handler);
    std::string done = proceeded.Str() + "/" + name;
    if (rename(work.c_str(), done.c_str()) != 0) {
      LogMessage("Warning: couldn't rename ``%s'' to ``%s'', ignoring: %s",
                 work.c_str(), done.c_str(), strerror(errno));
    }
  }
}

}  // namespace

SmscmdPoller::SmscmdPoller(OVKEventSelector *selector, int interval_ms,
                           SmsCommandHandler handler)
    : selector_(selector), interval_ms_(interval_ms), handler_(handler) {
  SetFromNow(0, 0);
  selector_->RegisterTimeout(this);
}

SmscmdPoller::~SmscmdPoller() { selector_->RemoveTimeout(this); }

void SmscmdPoller::TimeoutHandle() {
  ScanOnce();
  SetFromNow(interval_ms_ / 1000, (interval_ms_ % 1000) * 1000L);
  selector_->RegisterTimeout(this);
}

void SmscmdPoller::ScanOnce() {
  ScriptVariable composing = SmsComposing();
  ScriptVariable incoming = SmsIncoming();
  if (!incoming.IsAbsent() && !composing.IsAbsent())
    ScanDirectory(incoming, composing, incoming_watch_, IncomingName,
                  HandleReceived, handler_);
  ScriptVariable failed = SmsFailed();
  if (!failed.IsAbsent() && !composing.IsAbsent())
    ScanDirectory(failed, composing, failed_watch_, FailedName, HandleFailed,
                  handler_);
}
