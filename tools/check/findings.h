// Findings: what the checker has to say about a configuration file, each
// with its line, printed in line order as "FILE:LINE: error: text".
//
// Syntax errors print exactly as the daemon logs them ("FILE:LINE: text").
// Errors are faults the daemon would refuse or trip over, warnings likely
// mistakes it would silently ignore, notes worth knowing that are no fault.
#ifndef HOVANTRA_TOOLS_CHECK_FINDINGS_H
#define HOVANTRA_TOOLS_CHECK_FINDINGS_H

#include <cstdio>
#include <string>
#include <vector>

enum Severity { kSyntax, kError, kWarning, kNote };

class Findings {
 public:
  // line 0: the file as a whole.
  void Add(Severity severity, int line, const std::string &text);
  void Error(int line, const std::string &text) { Add(kError, line, text); }
  void Warning(int line, const std::string &text) { Add(kWarning, line, text); }
  void Note(int line, const std::string &text) { Add(kNote, line, text); }

  void Print(FILE *out, const std::string &path) const;
  // 1 with errors, else 2 with warnings, else 0.
  int ExitStatus() const;
  size_t Count(Severity severity) const;

 private:
  struct Finding {
    Severity severity;
    int line;
    std::string text;
  };
  std::vector<Finding> list_;
};

#endif
