#include "util/script_variable.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *const kWordDelimiters = " \t\r\n";

ScriptVariable::ScriptVariable(const char *s) {
  if (s)
    text_ = s;
  else
    absent_ = true;
}

ScriptVariable::ScriptVariable(const char *s, size_t len) : text_(s, len) {}
ScriptVariable::ScriptVariable(const std::string &s) : text_(s) {}
ScriptVariable::ScriptVariable(std::string &&s) : text_(std::move(s)) {}

ScriptVariable ScriptVariable::Absent() {
  ScriptVariable v;
  v.absent_ = true;
  return v;
}

// The conversions share one rule: a present, non-empty text that the C
// conversion consumes to its very end.
template <typename T, typename F>
static bool Convert(const ScriptVariable &v, T &out, F convert) {
  if (v.IsAbsent() || v.IsEmpty()) return false;
  const char *begin = v.c_str();
  char *end = nullptr;
  errno = 0;
  T value = convert(begin, &end);
  if (end == begin || *end != '\0' || errno == ERANGE) return false;
  out = value;
  return true;
}

bool ScriptVariable::GetLong(long &value, int radix) const {
  return Convert(*this, value, [radix](const char *s, char **e) {
    return strtol(s, e, radix);
  });
}

bool ScriptVariable::GetInt(int &value, int radix) const {
  long l;
  if (!GetLong(l, radix) || l < INT_MIN || l > INT_MAX) return false;
  value = static_cast<int>(l);
  return true;
}

bool ScriptVariable::GetLongLong(long long &value, int radix) const {
  return Convert(*this, value, [radix](const char *s, char **e) {
    return strtoll(s, e, radix);
  });
}

bool ScriptVariable::GetDouble(double &value) const {
  return Convert(*this, value,
                 [](const char *s, char **e) { return strtod(s, e); });
}

long ScriptVariable::GetLong(int radix) const {
  long v;
  if (!GetLong(v, radix)) throw BadNumber(text_);
  return v;
}

long long ScriptVariable::GetLongLong(int radix) const {
  long long v;
  if (!GetLongLong(v, radix)) throw BadNumber(text_);
  return v;
}

double ScriptVariable::GetDouble() const {
  double v;
  if (!GetDouble(v)) throw BadNumber(text_);
  return v;
}

int ScriptVariable::Compare(const ScriptVariable &other) const {
  if (absent_ || other.absent_) return 0;
  return strcmp(text_.c_str(), other.text_.c_str());
}

ScriptVariable &ScriptVariable::Trim(const char *set) {
  absent_ = false;
  size_t begin = text_.find_first_not_of(set);
  if (begin == std::string::npos) {
    text_.clear();
    return *this;
  }
  size_t end = text_.find_last_not_of(set);
  text_ = text_.substr(begin, end - begin + 1);
  return *this;
}

ScriptVariable &ScriptVariable::Toupper() {
  absent_ = false;
  for (char &c : text_)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return *this;
}

ScriptVariable &ScriptVariable::Tolower() {
  absent_ = false;
  for (char &c : text_)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return *this;
}

ScriptVariable &ScriptVariable::operator+=(const ScriptVariable &s) {
  absent_ = false;
  text_ += s.text_;
  return *this;
}

ScriptVariable &ScriptVariable::operator+=(const char *s) {
  absent_ = false;
  if (s) text_ += s;
  return *this;
}

ScriptVariable &ScriptVariable::operator+=(char c) {
  absent_ = false;
  text_ += c;
  return *this;
}

bool ScriptVariable::HasPrefix(const char *prefix) const {
  size_t n = strlen(prefix);
  return text_.size() >= n && text_.compare(0, n, prefix) == 0;
}

bool ScriptVariable::HasSuffix(const char *suffix) const {
  size_t n = strlen(suffix);
  return text_.size() >= n && text_.compare(text_.size() - n, n, suffix) == 0;
}

long ScriptVariable::Find(const char *s, size_t from) const {
  size_t pos = text_.find(s, from);
  return pos == std::string::npos ? -1 : static_cast<long>(pos);
}

ScriptVariable ScriptVariable::Range(size_t start, size_t len) const {
  if (start >= text_.size()) return ScriptVariable("");
  return ScriptVariable(text_.substr(start, len));
}

ScriptVariable operator+(const ScriptVariable &a, const ScriptVariable &b) {
  ScriptVariable r(a);
  r += b;
  return r;
}

ScriptVariable operator+(const ScriptVariable &a, const char *b) {
  ScriptVariable r(a);
  r += b;
  return r;
}

ScriptVariable operator+(const char *a, const ScriptVariable &b) {
  ScriptVariable r(a ? a : "");
  r += b;
  return r;
}

ScriptVariable ScriptFormat(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) vsnprintf(&out[0], n + 1, fmt, ap);
  va_end(ap);
  return ScriptVariable(std::move(out));
}

ScriptVector SplitWords(const ScriptVariable &text, const char *delims) {
  ScriptVector words;
  if (text.IsAbsent()) return words;
  if (!delims || !*delims) {
    words.push_back(text);
    return words;
  }
  const std::string &s = text.Str();
  size_t pos = 0;
  while (true) {
    size_t begin = s.find_first_not_of(delims, pos);
    if (begin == std::string::npos) break;
    size_t end = s.find_first_of(delims, begin);
    if (end == std::string::npos) end = s.size();
    words.emplace_back(s.substr(begin, end - begin));
    pos = end;
  }
  return words;
}

ScriptVector SplitTokens(const ScriptVariable &text, const char *delims,
                         const char *trim) {
  ScriptVector tokens;
  if (text.IsAbsent()) return tokens;
  if (!delims || !*delims) {
    tokens.push_back(text);
  } else {
    const std::string &s = text.Str();
    size_t begin = 0;
    while (true) {
      size_t end = s.find_first_of(delims, begin);
      if (end == std::string::npos) {
        tokens.emplace_back(s.substr(begin));
        break;
      }
      tokens.emplace_back(s.substr(begin, end - begin));
      begin = end + 1;
    }
  }
  if (trim && *trim)
    for (ScriptVariable &t : tokens) t.Trim(trim);
  return tokens;
}

ScriptVariable JoinWords(const ScriptVector &items, size_t first,
                         const char *sep) {
  ScriptVariable out("");
  for (size_t i = first; i < items.size(); i++) {
    if (i > first) out += sep;
    out += items[i];
  }
  return out;
}
