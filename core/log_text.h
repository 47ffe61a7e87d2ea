// Texts from the network as the log shows them.
//
// A client must not be able to start a log line, move the cursor of a
// terminal that shows the log, or hide text, so every byte below 0x20 and
// the byte 0x7f of such a text is written as "\xHH" (two lower-case hex
// digits).  Passwords typed after &p or &m never reach the world-readable
// log: in a logged command line the word after such a word is "***".
#ifndef HOVANTRA_CORE_LOG_TEXT_H
#define HOVANTRA_CORE_LOG_TEXT_H

#include "util/script_variable.h"

// text with its control bytes written as "\xHH".
ScriptVariable LogSafe(const ScriptVariable &text);
// Whether word is &p or &m in any letter case: the next word is a password.
bool IsPasswordWord(const ScriptVariable &word);
// A command line for the log: each word (split as the command processor
// splits them) that follows a password word becomes "***", the separators
// stay as they were, and the result is LogSafe.
ScriptVariable LogCommandLine(const ScriptVariable &line);
// Word i of a split command line for the log: "***" when word i - 1 is a
// password word, else the word LogSafe.
ScriptVariable LogCommandWord(const ScriptVector &words, long i);

#endif
