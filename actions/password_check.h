// Whether a password word makes a command line trusted.
#ifndef HOVANTRA_ACTIONS_PASSWORD_CHECK_H
#define HOVANTRA_ACTIONS_PASSWORD_CHECK_H

#include "util/script_variable.h"

// With a phone name: true for a phone whose auth is "trusted", else true
// exactly when password equals the phone's password.  With an empty phone
// name the general password is used.  A missing password never matches.
bool CheckPassword(const ScriptVariable &phone, const ScriptVariable &password);

#endif
