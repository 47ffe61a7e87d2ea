// Small text helpers shared by the checks.
#ifndef HOVANTRA_TOOLS_CHECK_TEXT_REFS_H
#define HOVANTRA_TOOLS_CHECK_TEXT_REFS_H

#include <string>
#include <vector>

// The names inside %...% references of a template, in order; "%%" is a
// literal percent sign and no reference.
std::vector<std::string> References(const std::string &text);
// The non-empty lines of a value, trimmed of blank, tab and CR.
std::vector<std::string> ValueLines(const std::string &value);
// The first word of a text, "" when there is none.
std::string FirstWord(const std::string &text);
// A text that the daemon expands before using it: its final form is not
// known before run time.
bool Substituted(const std::string &text);
// "key:qualifier" split at the first colon (qualifier "" without one).
void SplitKey(const std::string &key, std::string *base,
              std::string *qualifier);

#endif
