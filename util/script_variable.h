// ScriptVariable: the one string type of the system.
//
// A value is either a text (possibly empty) or absent.  Absent is what a
// lookup gives for a missing key; it differs from the empty text, has length
// 0, reads as "" through c_str(), and never converts to a number.
//
// Splitting follows two fixed rules used everywhere:
//   SplitWords:  runs of delimiters separate words; no empty words appear.
//   SplitTokens: every single delimiter ends a token, so adjacent delimiters
//                give empty tokens and a trailing delimiter gives an empty
//                last token; each token is then trimmed with the trim set.
#ifndef HOVANTRA_UTIL_SCRIPT_VARIABLE_H
#define HOVANTRA_UTIL_SCRIPT_VARIABLE_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

class ScriptVariable {
 public:
  // Raised by the throwing number conversions.
  class BadNumber : public std::runtime_error {
   public:
    explicit BadNumber(const std::string &text)
        : std::runtime_error("bad number: " + text) {}
  };

  ScriptVariable() = default;     // the empty text
  ScriptVariable(const char *s);  // NOLINT: nullptr gives absent
  ScriptVariable(const char *s, size_t len);
  ScriptVariable(const std::string &s);  // NOLINT
  ScriptVariable(std::string &&s);       // NOLINT
  static ScriptVariable Absent();

  bool IsAbsent() const { return absent_; }
  bool IsEmpty() const { return text_.empty(); }  // true for absent too
  size_t Length() const { return text_.size(); }
  const char *c_str() const { return text_.c_str(); }
  const std::string &Str() const { return text_; }
  char operator[](size_t i) const { return text_[i]; }

  // Numbers: the whole text must be consumed by strtol/strtoll/strtod
  // (leading white space is allowed, nothing may follow).  Radix 0 takes the
  // radix from the prefix (0x hexadecimal, 0 octal).
  bool GetLong(long &value, int radix = 10) const;
  bool GetInt(int &value, int radix = 10) const;  // 32-bit range checked
  bool GetLongLong(long long &value, int radix = 10) const;
  bool GetDouble(double &value) const;
  long GetLong(int radix = 10) const;           // throws BadNumber
  long long GetLongLong(int radix = 10) const;  // throws BadNumber
  double GetDouble() const;                     // throws BadNumber

  // Byte-wise comparison, bytes unsigned, like strcmp; 0 when either side
  // is absent.
  int Compare(const ScriptVariable &other) const;
  // Equality is exact: absent equals only absent.
  bool operator==(const ScriptVariable &o) const {
    return absent_ == o.absent_ && text_ == o.text_;
  }
  bool operator!=(const ScriptVariable &o) const { return !(*this == o); }
  bool operator==(const char *s) const { return !absent_ && s && text_ == s; }
  bool operator!=(const char *s) const { return !(*this == s); }

  // In-place editing; each returns *this.  Editing an absent value makes it
  // a text.
  ScriptVariable &Trim(const char *set = " \t\r\n");
  ScriptVariable &Toupper();
  ScriptVariable &Tolower();
  ScriptVariable &operator+=(const ScriptVariable &s);
  ScriptVariable &operator+=(const char *s);
  ScriptVariable &operator+=(char c);

  bool HasPrefix(const char *prefix) const;
  bool HasSuffix(const char *suffix) const;
  // Position of the first occurrence of s at or after from, or -1.
  long Find(const char *s, size_t from = 0) const;
  // Substring from start, at most len characters (npos: to the end).
  ScriptVariable Range(size_t start, size_t len = std::string::npos) const;

 private:
  std::string text_;
  bool absent_ = false;
};

ScriptVariable operator+(const ScriptVariable &a, const ScriptVariable &b);
ScriptVariable operator+(const ScriptVariable &a, const char *b);
ScriptVariable operator+(const char *a, const ScriptVariable &b);

// A printf-style formatter producing a ScriptVariable.
ScriptVariable ScriptFormat(const char *fmt, ...)
    __attribute__((format(printf, 1, 2)));

using ScriptVector = std::vector<ScriptVariable>;

// The white-space set used for words everywhere: blank, tab, CR, LF.
extern const char *const kWordDelimiters;

// Splits into words at any run of characters from delims.  With an empty
// delimiter set the whole text is the only item.
ScriptVector SplitWords(const ScriptVariable &text,
                        const char *delims = kWordDelimiters);
// Splits into tokens at every single delimiter; trims each with trim when
// trim is not empty.  With an empty delimiter set the whole text is the only
// item.  An absent text gives no tokens.
ScriptVector SplitTokens(const ScriptVariable &text, const char *delims,
                         const char *trim = "");
// Joins items from index first on with sep between them.
ScriptVariable JoinWords(const ScriptVector &items, size_t first = 0,
                         const char *sep = " ");

#endif
