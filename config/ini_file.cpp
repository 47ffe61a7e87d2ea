#include "config/ini_file.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "config/atomic_file.h"

const char *const IniFile::kCantOpen = "couldn't open the file";
const char *const IniFile::kLineTooLong = "line too long (max 1024)";
const char *const IniFile::kOutsideParameter = "data outside of a parameter";
const char *const IniFile::kBadHeader = "invalid header syntax";
const char *const IniFile::kOutsideSection = "data outside of a section";
const char *const IniFile::kBadParameter = "invalid dictionary line syntax";
const char *const IniFile::kCantWrite = "couldn't write the file";

static const char kWhite[] = " \t\n\r\v\f";

static bool IsWhite(char c) {
  return c != '\0' && strchr(kWhite, c) != nullptr;
}

struct IniFile::Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> params;
  // Built once the section has kIndexFrom keys.  Most sections have one to
  // three, found faster by looking at each, and a map apiece would take
  // most of the memory of a configuration of many sections.
  std::unordered_map<std::string, size_t> index;
};

static const size_t kIndexFrom = 8;

struct IniFile::Type {
  std::string name;
  std::vector<std::unique_ptr<Section>> sections;
  std::unordered_map<std::string, Section *> by_name;  // first of each name
};

IniFile::IniFile() = default;
IniFile::~IniFile() = default;

IniFile::Type *IniFile::FindType(const char *type) const {
  auto it = type_index_.find(type);
  return it == type_index_.end() ? nullptr : it->second;
}

IniFile::Section *IniFile::FindSection(const char *type,
                                       const char *name) const {
  Type *t = FindType(type);
  if (!t || t->sections.empty()) return nullptr;
  if (!name) return t->sections.front().get();
  auto it = t->by_name.find(name);
  return it == t->by_name.end() ? nullptr : it->second;
}

IniFile::Type *IniFile::MakeType(const char *type) {
  if (Type *t = FindType(type)) return t;
  types_.push_back(std::make_unique<Type>());
  Type *t = types_.back().get();
  t->name = type;
  type_index_[t->name] = t;
  return t;
}

// A null name selects the first section, creating one with the empty name.
IniFile::Section *IniFile::MakeSection(Type *t, const char *name) {
  if (!name) {
    if (!t->sections.empty()) return t->sections.front().get();
    name = "";
  } else {
    auto it = t->by_name.find(name);
    if (it != t->by_name.end()) return it->second;
  }
  t->sections.push_back(std::make_unique<Section>());
  Section *s = t->sections.back().get();
  s->name = name;
  t->by_name.emplace(s->name, s);
  return s;
}

// The position of key in the section's list, or -1.
static long KeyPosition(
    const std::vector<std::pair<std::string, std::string>> &params,
    const std::unordered_map<std::string, size_t> &index, const char *key) {
  if (index.empty()) {
    // The length is taken once, not again for every key compared.
    const size_t length = strlen(key);
    for (size_t i = 0; i < params.size(); i++) {
      const std::string &k = params[i].first;
      if (k.size() == length && memcmp(k.data(), key, length) == 0)
        return static_cast<long>(i);
    }
    return -1;
  }
  auto it = index.find(key);
  return it == index.end() ? -1 : static_cast<long>(it->second);
}

std::string *IniFile::FindKey(Section *s, const char *key) const {
  long at = KeyPosition(s->params, s->index, key);
  return at < 0 ? nullptr : &s->params[at].second;
}

std::string *IniFile::MakeKey(Section *s, const char *key) {
  if (std::string *v = FindKey(s, key)) return v;
  s->params.emplace_back(key, "");
  size_t count = s->params.size();
  if (!s->index.empty()) {
    s->index[key] = count - 1;
  } else if (count == kIndexFrom) {
    for (size_t i = 0; i < count; i++) s->index[s->params[i].first] = i;
  }
  return &s->params.back().second;
}

bool IniFile::Fail(int line, const char *text) {
  error_line_ = line;
  error_text_ = text;
  return false;
}

bool IniFile::Load(const char *path, Listener *listener) {
  error_line_ = -1;
  error_text_ = nullptr;
  FILE *f = fopen(path, "r");
  if (!f) {
    if (listener) listener->OnError(-1, kCantOpen);
    return Fail(-1, kCantOpen);
  }
  bool ok = LoadLines(f, listener);
  fclose(f);
  return ok;
}

static void TrimRight(std::string &s) {
  size_t end = s.find_last_not_of(kWhite);
  s.erase(end == std::string::npos ? 0 : end + 1);
}

bool IniFile::LoadLines(FILE *f, Listener *listener) {
  char buf[1024];
  int line_no = 0;
  Section *current = nullptr;
  // The most recent parameter line anywhere in the file, for continuations.
  Section *last_section = nullptr;
  size_t last_param = 0;
  // With a listener: the current header was faulty, so its parameters are
  // skipped rather than filed under the section before it.
  bool skipping = false;
  bool ok = true;
  auto fault = [&](const char *text) {
    if (ok) Fail(line_no, text);
    ok = false;
    if (listener) listener->OnError(line_no, text);
    return listener != nullptr;
  };
  while (fgets(buf, sizeof buf, f)) {
    line_no++;
    size_t len = strlen(buf);
    if (len == sizeof buf - 1 && buf[len - 1] != '\n') {
      int next = fgetc(f);
      if (next != EOF) {
        if (!fault(kLineTooLong)) return false;
        // The rest of the long line is not a line of its own.
        while (next != EOF && next != '\n') next = fgetc(f);
        continue;
      }
    }
    const char *p = buf;
    while (IsWhite(*p)) p++;
    if (*p == '\0' || *p == '#' || *p == ';') continue;

    if (IsWhite(buf[0]) || buf[0] == '+') {
      if (skipping) continue;
      if (!last_section) {
        if (!fault(kOutsideParameter)) return false;
        continue;
      }
      std::string text(buf + 1);
      TrimRight(text);
      std::string &value = last_section->params[last_param].second;
      value += "\n";
      value += text;
      continue;
    }

    if (buf[0] == '[') {
      const char *q = buf + 1;
      while (IsWhite(*q)) q++;
      const char *type_begin = q;
      while (*q && !IsWhite(*q) && *q != ']') q++;
      std::string type(type_begin, q);
      std::string name;
      bool has_name = false;
      if (IsWhite(*q)) {
        while (IsWhite(*q)) q++;
        has_name = true;
        const char *name_begin = q;
        while (*q && !IsWhite(*q) && *q != ']') q++;
        name.assign(name_begin, q);
        while (IsWhite(*q)) q++;
      }
      if (*q != ']') {
        if (!fault(kBadHeader)) return false;
        skipping = true;
        continue;
      }
      skipping = false;
      current = MakeSection(MakeType(type.c_str()),
                            has_name ? name.c_str() : nullptr);
      if (listener) listener->OnSection(line_no, type, current->name);
      continue;
    }

    if (skipping) continue;
    if (!current) {
      if (!fault(kOutsideSection)) return false;
      continue;
    }
    const char *q = buf;
    while (*q && !IsWhite(*q)) q++;
    std::string key(static_cast<const char *>(buf), q);
    while (IsWhite(*q)) q++;
    if (*q != '=') {
      if (!fault(kBadParameter)) return false;
      continue;
    }
    q++;
    while (IsWhite(*q)) q++;
    std::string value(q);
    TrimRight(value);
    std::string *stored = MakeKey(current, key.c_str());
    if (stored->empty())
      *stored = value;
    else
      *stored += "," + value;
    last_section = current;
    last_param = static_cast<size_t>(
        KeyPosition(current->params, current->index, key.c_str()));
    if (listener) listener->OnParameter(line_no, key);
  }
  return ok;
}

bool IniFile::WriteAll(FILE *f) const {
  for (const auto &t : types_)
    for (const auto &s : t->sections) {
      fprintf(f, "[%s %s]\n\n", t->name.c_str(), s->name.c_str());
      for (const auto &kv : s->params)
        fprintf(f, "%s = %s\n", kv.first.c_str(), kv.second.c_str());
      fputs("\n\n", f);
    }
  return !ferror(f);
}

bool IniFile::Save(const char *path) {
  error_line_ = -1;
  error_text_ = nullptr;
  ReplaceOutcome outcome =
      ReplaceFile(path, [this](FILE *f) { return WriteAll(f); });
  if (outcome.error == 0) return true;
  Fail(-1, outcome.opened ? kCantWrite : kCantOpen);
  errno = outcome.error;
  return false;
}

const char *IniFile::GetValue(const char *type, const char *name,
                              const char *key) const {
  return ValueIn(FindSection(type, name), key);
}

const char *IniFile::ValueIn(const Section *s, const char *key) const {
  if (!s) return "";
  long at = KeyPosition(s->params, s->index, key);
  return at < 0 ? "" : s->params[at].second.c_str();
}

const char *IniFile::GetString(const char *type, const char *name,
                               const char *key, const char *dflt) const {
  const char *v = GetValue(type, name, key);
  return *v ? v : dflt;
}

long IniFile::GetInt(const char *type, const char *name, const char *key,
                     long dflt) const {
  return IntIn(FindSection(type, name), key, dflt);
}

long IniFile::IntIn(const Section *s, const char *key, long dflt) const {
  const char *v = ValueIn(s, key);
  if (!*v) return dflt;
  char *end = nullptr;
  long n = strtol(v, &end, 10);
  if (end == v || *end != '\0') return dflt;
  return n;
}

const char *IniFile::GetQualified(const char *type, const char *name,
                                  const char *key, const char *qualifier,
                                  const char *dflt) const {
  std::string qualified = std::string(key) + ":" + (qualifier ? qualifier : "");
  const char *v = GetValue(type, name, qualified.c_str());
  if (*v) return v;
  return GetString(type, name, key, dflt);
}

void IniFile::SetValue(const char *type, const char *name, const char *key,
                       const char *value, bool replace) {
  Section *s = MakeSection(MakeType(type), name);
  std::string *stored = MakeKey(s, key);
  if (replace || stored->empty())
    *stored = value;
  else
    *stored += std::string(",") + value;
}

int IniFile::CountSections(const char *type) const {
  Type *t = FindType(type);
  return t ? static_cast<int>(t->sections.size()) : 0;
}

const char *IniFile::SectionName(const char *type, int index) const {
  Type *t = FindType(type);
  if (!t || index < 0 || index >= static_cast<int>(t->sections.size()))
    return "";
  return t->sections[index]->name.c_str();
}
