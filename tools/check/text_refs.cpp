#include "tools/check/text_refs.h"

#include "util/script_variable.h"

std::vector<std::string> References(const std::string &text) {
  std::vector<std::string> refs;
  size_t pos = 0;
  for (;;) {
    size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    if (close > open + 1) refs.push_back(text.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  return refs;
}

std::vector<std::string> ValueLines(const std::string &value) {
  std::vector<std::string> lines;
  for (const ScriptVariable &line : SplitTokens(value, "\n", " \t\r"))
    if (!line.IsEmpty()) lines.push_back(line.Str());
  return lines;
}

std::string FirstWord(const std::string &text) {
  ScriptVector words = SplitWords(text);
  return words.empty() ? std::string() : words[0].Str();
}

bool Substituted(const std::string &text) {
  return text.find('%') != std::string::npos;
}

void SplitKey(const std::string &key, std::string *base,
              std::string *qualifier) {
  size_t colon = key.find(':');
  *base = key.substr(0, colon);
  *qualifier = colon == std::string::npos ? "" : key.substr(colon + 1);
}
