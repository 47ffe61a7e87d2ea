#include "core/log_text.h"

#include <cstring>
#include <string>

ScriptVariable LogSafe(const ScriptVariable &text) {
  static const char kHex[] = "0123456789abcdef";
  const std::string &s = text.Str();
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return ScriptVariable(std::move(out));
}

bool IsPasswordWord(const ScriptVariable &word) {
  const std::string &s = word.Str();
  return s.size() == 2 && s[0] == '&' &&
         (s[1] == 'p' || s[1] == 'P' || s[1] == 'm' || s[1] == 'M');
}

ScriptVariable LogCommandLine(const ScriptVariable &line) {
  const std::string &s = line.Str();
  std::string out;
  bool mask_next = false;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t begin = s.find_first_not_of(kWordDelimiters, pos);
    if (begin == std::string::npos) begin = s.size();
    out.append(s, pos, begin - pos);
    if (begin == s.size()) break;
    size_t end = s.find_first_of(kWordDelimiters, begin);
    if (end == std::string::npos) end = s.size();
    std::string word = s.substr(begin, end - begin);
    out += mask_next ? std::string("***") : word;
    mask_next = IsPasswordWord(ScriptVariable(word));
    pos = end;
  }
  return LogSafe(ScriptVariable(std::move(out)));
}

ScriptVariable LogCommandWord(const ScriptVector &words, long i) {
  if (i < 0 || i >= static_cast<long>(words.size())) return ScriptVariable("");
  if (i > 0 && IsPasswordWord(words[i - 1])) return ScriptVariable("***");
  return LogSafe(words[i]);
}
