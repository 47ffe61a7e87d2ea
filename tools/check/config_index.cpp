#include "tools/check/config_index.h"

void ConfigIndex::OnSection(int line, const std::string &type,
                            const std::string &name) {
  for (size_t i = 0; i < sections_.size(); i++) {
    if (sections_[i].type == type && sections_[i].name == name) {
      current_ = static_cast<int>(i);
      return;
    }
  }
  sections_.push_back(Section{type, name, line, {}});
  current_ = static_cast<int>(sections_.size()) - 1;
}

void ConfigIndex::OnParameter(int line, const std::string &key) {
  if (current_ < 0) return;
  Section &s = sections_[current_];
  for (const Key &k : s.keys)
    if (k.name == key) return;
  s.keys.push_back(Key{key, line});
}

void ConfigIndex::OnError(int line, const char *text) {
  faults_.push_back(Fault{line, text});
}

const ConfigIndex::Section *ConfigIndex::Find(const std::string &type,
                                              const char *name) const {
  for (const Section &s : sections_)
    if (s.type == type && (name == nullptr || s.name == name)) return &s;
  return nullptr;
}

int ConfigIndex::LineOf(const std::string &type, const char *name,
                        const std::string &key) const {
  const Section *s = Find(type, name);
  if (s == nullptr) return 0;
  for (const Key &k : s->keys)
    if (k.name == key) return k.line;
  return s->line;
}
