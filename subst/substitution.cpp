#include "subst/substitution.h"

#include <string>

#include "core/process_state.h"

void ScriptSubstitution::AddVariable(Var *v) { vars_.emplace_back(v); }

ScriptVariable ScriptSubstitution::Process(const ScriptVariable &text) {
  return ProcessWith(text, nullptr);
}

ScriptVariable ScriptSubstitution::Process(const ScriptVariable &text,
                                           const ScriptVector &words, int start,
                                           int count) {
  ScriptSubstitutionArgv argv(words, start, count);
  return ProcessWith(text, &argv);
}

ScriptVariable ScriptSubstitution::ProcessDict(const ScriptVariable &text,
                                               const ScriptVector &words,
                                               const ScriptVector &pairs) {
  DictionaryVar dict(words, pairs);
  return ProcessWith(text, &dict);
}

ScriptVariable ScriptSubstitution::ProcessWith(const ScriptVariable &text,
                                               Var *first) {
  if (text.IsAbsent()) return ScriptVariable::Absent();
  const std::string &in = text.Str();
  const size_t n = in.size();
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    if (in[i] != delimiter_) {  // plain text up to the next delimiter
      size_t next = in.find(delimiter_, i);
      if (next == std::string::npos) next = n;
      out.append(in, i, next - i);
      i = next;
      continue;
    }
    size_t end = i + 1;
    while (end < n && in[end] != delimiter_ && in[end] != '\n') end++;
    if (end >= n) break;    // unterminated: the rest is dropped
    if (in[end] == '\n') {  // a reference never spans lines
      i = end + 1;
      continue;
    }
    if (end == i + 1) {
      out += delimiter_;
      i = end + 1;
      continue;
    }
    const char *name = in.data() + i + 1;
    const int len = static_cast<int>(end - i - 1);
    ScriptVariable value = ScriptVariable::Absent();
    if (first) value = first->Lookup(name, len);
    for (size_t k = vars_.size(); value.IsAbsent() && k > 0; k--) {
      value = vars_[k - 1]->Lookup(name, len);
    }
    if (!value.IsAbsent()) out += value.Str();
    i = end + 1;
  }
  return ScriptVariable(std::move(out));
}

ScriptSubstitution &MainSubstitution() {
  static ScriptSubstitution engine('%');
  return engine;
}

void ResetMainSubstitution() {
  MainSubstitution().Clear();
  MainSubstitution().SetDelimiter('%');
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kSubst, ResetMainSubstitution);
