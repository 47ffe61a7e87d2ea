// The variable classes of the substitution engine.
#include <cstring>
#include <string>

#include "subst/substitution.h"

ScriptVariable ScriptSubstitutionSingleName::Lookup(const char *name, int len) {
  if (static_cast<size_t>(len) != name_.Length() ||
      memcmp(name, name_.c_str(), len) != 0) {
    return ScriptVariable::Absent();
  }
  return Text();
}

ScriptVariable ScriptSubstitutionPrefixRequest::Lookup(const char *name,
                                                       int len) {
  const size_t plen = prefix_.Length();
  if (static_cast<size_t>(len) <= plen ||
      memcmp(name, prefix_.c_str(), plen) != 0) {
    return ScriptVariable::Absent();
  }
  // The character right after the prefix is only a separator of the
  // prefix from the parameters; it is skipped whatever it is.
  ScriptVector params(1);
  for (int i = static_cast<int>(plen) + 1; i < len; i++) {
    if (name[i] == separator_) {
      params.emplace_back();
    } else {
      params.back() += name[i];
    }
  }
  return HandleRequest(params);
}

ScriptSubstitutionArgv::ScriptSubstitutionArgv(const ScriptVector &words,
                                               int start, int count)
    : words_(words), start_(start < 0 ? 0 : start), count_(count) {
  const int size = static_cast<int>(words_.size());
  const int available = start_ < size ? size - start_ : 0;
  if (count_ < 0 || count_ > available) count_ = available;
}

ScriptVariable ScriptSubstitutionArgv::Lookup(const char *name, int len) {
  if (len == 1 && name[0] == '*') {
    std::string joined;
    for (int i = 1; i < count_; i++) {
      if (i > 1) joined += ' ';
      joined += words_[start_ + i].Str();
    }
    return ScriptVariable(std::move(joined));
  }
  if (len <= 0) return ScriptVariable::Absent();
  long n = 0;
  for (int i = 0; i < len; i++) {
    if (name[i] < '0' || name[i] > '9') return ScriptVariable::Absent();
    // Beyond any possible count the exact value no longer matters.
    if (n <= count_) n = n * 10 + (name[i] - '0');
  }
  if (n < count_ && !words_[start_ + n].IsAbsent()) return words_[start_ + n];
  return ScriptVariable("");
}

ScriptVariable DictionaryVar::Lookup(const char *name, int len) {
  ScriptVariable value = ScriptSubstitutionArgv::Lookup(name, len);
  if (!value.IsAbsent()) return value;
  for (size_t i = 0; i + 1 < pairs_.size(); i += 2) {
    const ScriptVariable &key = pairs_[i];
    if (key.Length() == static_cast<size_t>(len) &&
        memcmp(key.c_str(), name, len) == 0) {
      return pairs_[i + 1];
    }
  }
  return ScriptVariable::Absent();
}
