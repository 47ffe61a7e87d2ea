#include "tools/check/findings.h"

#include <algorithm>

void Findings::Add(Severity severity, int line, const std::string &text) {
  for (const Finding &f : list_)
    if (f.line == line && f.text == text) return;  // said once is enough
  list_.push_back(Finding{severity, line, text});
}

namespace {

// Values may hold newlines and whatever bytes the file holds; a finding
// stays one printable line.
std::string Printable(const std::string &text) {
  std::string shown;
  for (unsigned char ch : text) {
    if (ch == '\n') {
      shown += "\\n";
    } else if (ch < 0x20 || ch == 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", ch);
      shown += hex;
    } else {
      shown += static_cast<char>(ch);
    }
  }
  return shown;
}

}  // namespace

void Findings::Print(FILE *out, const std::string &path) const {
  std::vector<Finding> sorted = list_;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Finding &a, const Finding &b) {
                     // What concerns the whole file comes last.
                     unsigned la = a.line, lb = b.line;
                     return (la == 0 ? ~0u : la) < (lb == 0 ? ~0u : lb);
                   });
  static const char *const kLabel[] = {"", "error: ", "warning: ", "note: "};
  for (const Finding &f : sorted) {
    if (f.line > 0 || f.severity == kSyntax)
      fprintf(out, "%s:%d: %s%s\n", path.c_str(), f.line, kLabel[f.severity],
              Printable(f.text).c_str());
    else
      fprintf(out, "%s: %s%s\n", path.c_str(), kLabel[f.severity],
              Printable(f.text).c_str());
  }
}

size_t Findings::Count(Severity severity) const {
  return std::count_if(list_.begin(), list_.end(), [&](const Finding &f) {
    return f.severity == severity;
  });
}

int Findings::ExitStatus() const {
  if (Count(kSyntax) + Count(kError) > 0) return 1;
  return Count(kWarning) > 0 ? 2 : 0;
}
