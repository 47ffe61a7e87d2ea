// ScriptSubstitution: the %name% macro engine.
//
// The text is scanned once, left to right; produced values are never scanned
// again.  At a delimiter D the reference runs to the next D:
//   - "DD" gives one D;
//   - the end of the text before the closing D drops the rest of the text;
//   - a newline before the closing D drops the D, the reference and the
//     newline, and scanning goes on after it;
//   - otherwise the variables are asked, the call's temporary variable first,
//     then the engine's list newest first; the first that does not answer
//     absent wins (an empty value hides older variables); nobody answering
//     gives nothing.
#ifndef HOVANTRA_SUBST_SUBSTITUTION_H
#define HOVANTRA_SUBST_SUBSTITUTION_H

#include <memory>
#include <vector>

#include "util/script_variable.h"

class ScriptSubstitution {
 public:
  class Var {
   public:
    virtual ~Var() = default;
    // The value for the reference name (not 0-terminated), or absent when
    // this variable does not know the name.
    virtual ScriptVariable Lookup(const char *name, int len) = 0;
  };

  explicit ScriptSubstitution(char delimiter = '%') : delimiter_(delimiter) {}
  void SetDelimiter(char d) { delimiter_ = d; }
  // Takes ownership; the variable is asked before all earlier ones.
  void AddVariable(Var *v);

  ScriptVariable Process(const ScriptVariable &text);
  // With an argument list: words[start], words[start+1], ... answer %0%,
  // %1%, ...; count -1 (or too large) means all words from start.
  ScriptVariable Process(const ScriptVariable &text, const ScriptVector &words,
                         int start = 0, int count = -1);
  // With a dictionary: pairs is a flat list name, value, name, value...
  ScriptVariable ProcessDict(const ScriptVariable &text,
                             const ScriptVector &words,
                             const ScriptVector &pairs);

  // Expands with one temporary variable asked first (may be nullptr).
  ScriptVariable ProcessWith(const ScriptVariable &text, Var *first);

  // Destroys every variable; the delimiter stays.
  void Clear() { vars_.clear(); }

 private:
  char delimiter_;
  std::vector<std::unique_ptr<Var>> vars_;  // oldest first
};

// Answers one exact name.
class ScriptSubstitutionSingleName : public ScriptSubstitution::Var {
 public:
  explicit ScriptSubstitutionSingleName(const ScriptVariable &name)
      : name_(name) {}
  ScriptVariable Lookup(const char *name, int len) override;
  virtual ScriptVariable Text() = 0;

 private:
  ScriptVariable name_;
};

class ScriptSubstitutionConst : public ScriptSubstitutionSingleName {
 public:
  ScriptSubstitutionConst(const ScriptVariable &name,
                          const ScriptVariable &value)
      : ScriptSubstitutionSingleName(name), value_(value) {}
  ScriptVariable Text() override { return value_; }

 private:
  ScriptVariable value_;
};

// The current value of a string owned elsewhere.
class ScriptSubstitutionScrVar : public ScriptSubstitutionSingleName {
 public:
  ScriptSubstitutionScrVar(const ScriptVariable &name,
                           const ScriptVariable &ref)
      : ScriptSubstitutionSingleName(name), ref_(ref) {}
  ScriptVariable Text() override { return ref_; }

 private:
  const ScriptVariable &ref_;
};

// Answers references longer than the prefix that begin with it: the
// character after the prefix is skipped, the rest is split at the separator
// into parameters (starting with one empty item) for HandleRequest.
class ScriptSubstitutionPrefixRequest : public ScriptSubstitution::Var {
 public:
  ScriptSubstitutionPrefixRequest(const char *prefix, char separator)
      : prefix_(prefix), separator_(separator) {}
  ScriptVariable Lookup(const char *name, int len) override;
  virtual ScriptVariable HandleRequest(const ScriptVector &params) = 0;

 private:
  ScriptVariable prefix_;
  char separator_;
};

// Argument references: "*" gives arguments 1.. joined by blanks; digits give
// argument n (empty past the end); anything else is absent.
class ScriptSubstitutionArgv : public ScriptSubstitution::Var {
 public:
  ScriptSubstitutionArgv(const ScriptVector &words, int start, int count);
  ScriptVariable Lookup(const char *name, int len) override;

 private:
  const ScriptVector &words_;
  int start_;
  int count_;
};

// Argument references, then the name/value pairs (first match).
class DictionaryVar : public ScriptSubstitutionArgv {
 public:
  DictionaryVar(const ScriptVector &words, const ScriptVector &pairs)
      : ScriptSubstitutionArgv(words, 0, -1), pairs_(pairs) {}
  ScriptVariable Lookup(const char *name, int len) override;

 private:
  const ScriptVector &pairs_;
};

// The main engine: used for every configured text except web pages.  Filled
// with the system variables at start-up.
ScriptSubstitution &MainSubstitution();
// Empties the main engine and gives it back the '%' delimiter; for tests.
void ResetMainSubstitution();

#endif
