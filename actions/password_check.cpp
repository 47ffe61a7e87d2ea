#include "actions/password_check.h"

#include "config/configuration.h"

bool CheckPassword(const ScriptVariable &phone,
                   const ScriptVariable &password) {
  ScriptVariable expected;
  if (!phone.IsEmpty()) {
    if (PhoneAuth(phone) == "trusted") return true;
    expected = PhonePassword(phone);
  } else {
    expected = GeneralPassword();
  }
  return !expected.IsAbsent() && expected == password;
}
