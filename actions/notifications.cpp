#include "actions/notifications.h"

#include "config/configuration.h"
#include "core/child_process.h"
#include "core/log.h"
#include "sms/sms_send.h"
#include "subst/substitution.h"

void SendNotification(const ScriptVariable &reference) {
  ScriptVector words = SplitWords(reference);
  ScriptVariable name = words.empty() ? ScriptVariable() : words[0];
  ScriptVariable phones = NotificationPhones(name);
  ScriptVariable message = NotificationMessage(name);
  if (phones.IsAbsent()) {
    LogMessage("Phones not defined for notification ``%s''", name.c_str());
    return;
  }
  if (message.IsAbsent()) {
    LogMessage("No message defined for notification ``%s''", name.c_str());
    return;
  }
  ScriptVector numbers = SplitWords(phones);
  if (numbers.empty()) {
    LogMessage("Empty phones list for notification ``%s''", name.c_str());
    return;
  }
  ScriptVariable text = MainSubstitution().Process(message, words, 0, -1);
  text.Trim(" \t\n\r");
  if (text.IsEmpty()) {
    LogMessage("Empty message for notification [%s]", reference.c_str());
    return;
  }
  for (const ScriptVariable &phone : numbers) {
    if (!sms_send(phone, text))
      LogMessage("Warning: failed to send SMS to ``%s''", phone.c_str());
  }
}

void RunEventCommand(const ScriptVariable &command, const ScriptVector &words) {
  ScriptVariable line = MainSubstitution().Process(command, words, 0, -1);
  LogMessage("Executing event-associated command: [%s]", line.c_str());
  SpawnShellCommand(line.c_str());
}
