// The section types and keys the daemon reads, and the nearest known name
// for a misspelled one.
#ifndef HOVANTRA_TOOLS_CHECK_KNOWN_KEYS_H
#define HOVANTRA_TOOLS_CHECK_KNOWN_KEYS_H

#include <string>
#include <vector>

// Which qualifiers ("key:qualifier") a key is read with.
enum Qualifiers {
  kPlain,         // never qualified
  kAnyQualifier,  // any text (html:NAME)
  kStateName,     // a bare state of the event's machine
  kGreeting,      // "trusted" or "untrusted"
  kOutputLine,    // 0..11
  kInputLine,     // 0..7
};

const std::vector<std::string> &KnownTypes();
bool IsKnownType(const std::string &type);
// The plain keys of a known type.
std::vector<std::string> KnownKeys(const std::string &type);
// How the plain key of the type may be qualified; false for unknown keys.
bool KeyQualifiers(const std::string &type, const std::string &key,
                   Qualifiers *qualifiers);

// The candidate closest to word by edit distance, when close enough to be a
// likely misspelling (at most 2 edits, and fewer than half the word); "".
std::string NearestName(const std::string &word,
                        const std::vector<std::string> &candidates);

#endif
