// The text of a received message as the command processor gets it: every
// character printable ASCII, white space turned into blanks, anything else
// into "?".
#ifndef HOVANTRA_SMS_SMS_TEXT_H
#define HOVANTRA_SMS_SMS_TEXT_H

#include <string>

#include "util/script_variable.h"

class SmsMessage;

// body read as UCS2 (pairs of bytes, high byte first, a last odd byte
// ignored) when ucs2, else byte by byte.
ScriptVariable DecodeSmsBody(const std::string &body, bool ucs2);
// Decodes the message's body as its Alphabet header asks ("UCS2" once
// trimmed of blank, tab, CR and LF).
ScriptVariable SmsCommandText(const SmsMessage &message);

#endif
