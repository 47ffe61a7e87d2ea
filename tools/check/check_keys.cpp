// Unknown section types and keys: the daemon never reads them, so a
// misspelled name silently falls back to the default.
#include <cctype>

#include "tools/check/check.h"
#include "tools/check/known_keys.h"
#include "tools/check/text_refs.h"

namespace {

std::string Suggestion(const std::string &word,
                       const std::vector<std::string> &candidates) {
  std::string nearest = NearestName(word, candidates);
  return nearest.empty() ? "" : ": did you mean " + nearest + "?";
}

bool IsLineNumber(const std::string &text, int count) {
  if (text.empty() || text.size() > 2) return false;
  for (char ch : text)
    if (!isdigit(static_cast<unsigned char>(ch))) return false;
  return std::stoi(text) < count && (text.size() == 1 || text[0] != '0');
}

// A known plain key with a qualifier it is never read with.
void CheckQualifier(CheckContext &c, const ConfigIndex::Section &s,
                    const ConfigIndex::Key &k, const std::string &base,
                    const std::string &qualifier, Qualifiers kind) {
  std::string where = CheckContext::Where(s, k.name);
  switch (kind) {
    case kPlain:
      c.findings.Warning(k.line, where + ": " + base +
                                     " is never qualified; this key is not read");
      return;
    case kGreeting:
      if (qualifier != "trusted" && qualifier != "untrusted")
        c.findings.Warning(k.line, where + ": greeting is read only as "
                                           "greeting:trusted or greeting:untrusted");
      return;
    case kOutputLine:
      if (!IsLineNumber(qualifier, 12))
        c.findings.Warning(k.line, where + ": output lines are 0 to 11");
      return;
    case kInputLine:
      if (!IsLineNumber(qualifier, 8))
        c.findings.Warning(k.line, where + ": inputs are 0 to 7");
      return;
    case kAnyQualifier:
    case kStateName:  // checked against the machine's states elsewhere
      return;
  }
}

}  // namespace

void CheckKeys(CheckContext &c) {
  for (const ConfigIndex::Section &s : c.index.Sections()) {
    if (!IsKnownType(s.type)) {
      c.findings.Warning(s.line, "unknown section type [" + s.type + "]" +
                                     Suggestion(s.type, KnownTypes()));
      continue;
    }
    for (const ConfigIndex::Key &k : s.keys) {
      std::string base, qualifier;
      SplitKey(k.name, &base, &qualifier);
      Qualifiers kind;
      if (!KeyQualifiers(s.type, base, &kind)) {
        std::string nearest = NearestName(base, KnownKeys(s.type));
        if (!nearest.empty() && k.name.find(':') != std::string::npos)
          nearest += ":" + qualifier;
        c.findings.Warning(k.line, "unknown key in [" + s.type + "]: " +
                                       k.name +
                                       (nearest.empty() ? ""
                                                        : ": did you mean " +
                                                              nearest + "?"));
        continue;
      }
      if (k.name.find(':') != std::string::npos)
        CheckQualifier(c, s, k, base, qualifier, kind);
    }
  }
}
