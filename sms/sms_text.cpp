#include "sms/sms_text.h"

#include "sms/sms_message.h"

namespace {

// The POSIX locale's classes, independent of whatever locale is set.
bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }
bool IsWhite(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

char Shown(unsigned char c) {
  if (IsPrintable(c)) return static_cast<char>(c);
  if (IsWhite(c)) return ' ';
  return '?';
}

}  // namespace

ScriptVariable DecodeSmsBody(const std::string &body, bool ucs2) {
  std::string text;
  if (ucs2) {
    for (size_t i = 0; i + 1 < body.size(); i += 2) {
      unsigned char high = static_cast<unsigned char>(body[i]);
      unsigned char low = static_cast<unsigned char>(body[i + 1]);
      text += high == 0 ? Shown(low) : '?';
    }
  } else {
    for (char c : body) text += Shown(static_cast<unsigned char>(c));
  }
  return ScriptVariable(std::move(text));
}

ScriptVariable SmsCommandText(const SmsMessage &message) {
  ScriptVariable alphabet = message.GetHeader("Alphabet");
  bool ucs2 = !alphabet.IsAbsent() && alphabet.Trim(" \t\n\r") == "UCS2";
  return DecodeSmsBody(message.Body(), ucs2);
}
