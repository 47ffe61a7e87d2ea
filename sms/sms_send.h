// Sending one SMS through the gateway's spool: the file is written in the
// composing directory and handed over into the outgoing directory in one
// step, so the gateway never sees a half-written file.
//
// File names are "HOVANTRA_OUTG.<pid>.<time>.<counter>", where the counter
// belongs to the process and grows by (time mod 1000) before each name.  A
// name already taken in the composing or the outgoing directory is never
// reused: the counter moves on by one and the next name is tried, and the
// handover is a hard link, which fails rather than replace a waiting file.
#ifndef HOVANTRA_SMS_SMS_SEND_H
#define HOVANTRA_SMS_SMS_SEND_H

#include "util/script_variable.h"

class SmsMessage;

// 1 when the file reached the outgoing directory, 0 otherwise (logged).
int sms_send(const ScriptVariable &to, const ScriptVariable &text);
int sms_send_message(SmsMessage &message);

// Seconds since the epoch as the file names see them; tests replace it.
using SmsClock = long (*)();
void SetSmsClock(SmsClock clock);  // nullptr: the system clock
// Puts the name counter back to 0 and the system clock back; for tests.
void ResetSmsSend();

#endif
