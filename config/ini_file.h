// IniFile: the ordered section/parameter document used by the configuration
// file and the state file.
//
// Syntax, line by line (lines of at most 1023 bytes with their newline):
//   - empty, white-space-only and comment lines ("#" or ";" as the first
//     non-blank character) are skipped;
//   - a line starting with white space or "+" continues the value of the
//     most recent parameter line of the file, after a "\n";
//   - "[type]" or "[type name]" selects a section; a header without a name
//     selects the first section of the type;
//   - "key = value" (white space before "=" is required); a repeated key
//     appends ",value" to a non-empty value.
// Types, names and keys are case-sensitive.  Sections, keys and types keep
// the order of their first appearance.
//
// Addressing with a null name means "the first section of this type";
// the empty name is a name like any other.
//
// Save replaces the file whole (config/atomic_file.h), so the file on disk
// is always either the old or the new document, never a truncated one.  A
// failed write leaves the old file in place and is reported.
#ifndef HOVANTRA_CONFIG_INI_FILE_H
#define HOVANTRA_CONFIG_INI_FILE_H

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class IniFile {
 public:
  IniFile();
  ~IniFile();
  IniFile(const IniFile &) = delete;
  IniFile &operator=(const IniFile &) = delete;

  // What Load meets, line by line, for tools that check a file: every
  // section header (with the section it selects), every parameter line and
  // every faulty line.
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void OnSection(int line, const std::string &type,
                           const std::string &name) = 0;
    virtual void OnParameter(int line, const std::string &key) = 0;
    virtual void OnError(int line, const char *text) = 0;
  };

  // Adds the file's contents to the document.  On failure returns false with
  // ErrorLine/ErrorText set; what was read before the faulty line stays.
  // With a listener a faulty line is reported and skipped (parameters under
  // a faulty header with it), reading goes on, and the first error is the
  // one kept.
  bool Load(const char *path, Listener *listener = nullptr);
  // Writes the whole document (atomic replacement).  False, with errno
  // set, and the error text "couldn't open the file" when no temporary
  // file could be made, kCantWrite when it could not be written or put in
  // place.
  bool Save(const char *path);

  // The value, or "" when the type, section or key is missing.
  const char *GetValue(const char *type, const char *name,
                       const char *key) const;
  // A section found once, for reading several of its keys with ValueIn;
  // nullptr when the type or section is missing (a null name: the first
  // section of the type).  Valid until the document changes.
  struct Section;
  const Section *GetSection(const char *type, const char *name) const {
    return FindSection(type, name);
  }
  // The value of key in s, or "" when s is nullptr or lacks the key.
  const char *ValueIn(const Section *s, const char *key) const;
  // GetInt of a key in s.
  long IntIn(const Section *s, const char *key, long dflt) const;
  // GetValue, or dflt (possibly nullptr) when that is empty.
  const char *GetString(const char *type, const char *name, const char *key,
                        const char *dflt) const;
  // Decimal strtol of the value; dflt when empty or not wholly a number.
  long GetInt(const char *type, const char *name, const char *key,
              long dflt) const;
  // The key "key:qualifier", else the plain key, else dflt.
  const char *GetQualified(const char *type, const char *name, const char *key,
                           const char *qualifier, const char *dflt) const;
  // Finds or creates type, section and key; replace drops the old value,
  // otherwise a non-empty old value is extended with "," and the value.
  void SetValue(const char *type, const char *name, const char *key,
                const char *value, bool replace);

  int CountSections(const char *type) const;
  // Name of the section at index of the type's list; "" when out of range.
  const char *SectionName(const char *type, int index) const;

  int ErrorLine() const { return error_line_; }
  const char *ErrorText() const { return error_text_; }

  // Error texts.
  static const char *const kCantOpen;
  static const char *const kLineTooLong;
  static const char *const kOutsideParameter;
  static const char *const kBadHeader;
  static const char *const kOutsideSection;
  static const char *const kBadParameter;
  // Save only: the temporary file could not be written or put in place.
  static const char *const kCantWrite;

 private:
  struct Type;
  Type *FindType(const char *type) const;
  Section *FindSection(const char *type, const char *name) const;
  Type *MakeType(const char *type);
  Section *MakeSection(Type *t, const char *name);
  std::string *FindKey(Section *s, const char *key) const;
  std::string *MakeKey(Section *s, const char *key);
  bool LoadLines(FILE *f, Listener *listener);
  bool Fail(int line, const char *text);
  bool WriteAll(FILE *f) const;

  std::vector<std::unique_ptr<Type>> types_;
  std::unordered_map<std::string, Type *> type_index_;
  int error_line_ = -1;
  const char *error_text_ = nullptr;
};

#endif
