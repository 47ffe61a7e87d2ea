// Sending one SMS through the gateway's spool: the file is written in the
// composing directory and renamed into the outgoing directory.
#ifndef HOVANTRA_SMS_SMS_SEND_H
#define HOVANTRA_SMS_SMS_SEND_H

#include "util/script_variable.h"

class SmsMessage;

// 1 when the file reached the outgoing directory, 0 otherwise (logged).
int sms_send(const ScriptVariable &to, const ScriptVariable &text);
int sms_send_message(SmsMessage &message);

#endif
