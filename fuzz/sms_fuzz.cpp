// The SMS message reader: a spool file as the gateway leaves it, its body
// as command text, header changes as the poller makes them, and the file
// written back and read again.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sms/sms_message.h"
#include "sms/sms_text.h"

// A command text holds printable ASCII only.
static bool IsCommandText(const ScriptVariable &text) {
  for (size_t i = 0; i < text.Length(); i++) {
    unsigned char c = static_cast<unsigned char>(text.c_str()[i]);
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string received = ScratchPath("received");
  static const std::string written = ScratchPath("written");
  WriteWholeFile(received, data, size);

  SmsMessage message;
  FUZZ_CHECK(message.ReadFile(received.c_str()));
  FUZZ_CHECK(message.Body().size() <= size);

  ScriptVariable shown = message.BodyText();
  FUZZ_CHECK(shown.Length() == message.Body().size());
  FUZZ_CHECK(IsCommandText(SmsCommandText(message)));
  FUZZ_CHECK(IsCommandText(DecodeSmsBody(message.Body(), true)));
  FUZZ_CHECK(IsCommandText(DecodeSmsBody(message.Body(), false)));
  message.GetHeader("From");

  // What the failed-message handling does to a file it keeps.
  message.SetHeader("Failed", "yes");
  message.SetHeader("Fail_reason", "fuzzing");
  FUZZ_CHECK(message.GetHeader("Failed") == "yes");

  FILE *f = fopen(written.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(message.Write(f));
  FUZZ_CHECK(fclose(f) == 0);
  FUZZ_CHECK(ReadWholeFile(written) == message.Serialize());

  // A written message reads back as the same message.
  SmsMessage again;
  FUZZ_CHECK(again.ReadFile(written.c_str()));
  FUZZ_CHECK(again.HeaderCount() == message.HeaderCount());
  for (int i = 0; i < message.HeaderCount(); i++) {
    FUZZ_CHECK(again.HeaderName(i) == message.HeaderName(i));
    FUZZ_CHECK(again.HeaderValue(i).IsAbsent() ==
               message.HeaderValue(i).IsAbsent());
    FUZZ_CHECK(again.HeaderValue(i) == message.HeaderValue(i));
  }
  FUZZ_CHECK(again.Body() == message.Body());
  return 0;
}
