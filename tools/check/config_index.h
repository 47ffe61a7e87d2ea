// ConfigIndex: where each section and key of a configuration file is
// written, and every syntax fault, as a listening load reports them.
#ifndef HOVANTRA_TOOLS_CHECK_CONFIG_INDEX_H
#define HOVANTRA_TOOLS_CHECK_CONFIG_INDEX_H

#include <string>
#include <vector>

#include "config/ini_file.h"

class ConfigIndex : public IniFile::Listener {
 public:
  struct Key {
    std::string name;
    int line;  // first line that writes it
  };
  struct Section {
    std::string type;
    std::string name;
    int line;  // first header that selects it
    std::vector<Key> keys;
  };
  struct Fault {
    int line;  // -1 when the file could not be opened
    std::string text;
  };

  void OnSection(int line, const std::string &type,
                 const std::string &name) override;
  void OnParameter(int line, const std::string &key) override;
  void OnError(int line, const char *text) override;

  // Sections in the order of their first header.
  const std::vector<Section> &Sections() const { return sections_; }
  const std::vector<Fault> &Faults() const { return faults_; }
  // The section, or nullptr; a null name means the first of the type.
  const Section *Find(const std::string &type, const char *name) const;
  // Line of the key in the section, else of the section, else 0.
  int LineOf(const std::string &type, const char *name,
             const std::string &key) const;

 private:
  std::vector<Section> sections_;
  std::vector<Fault> faults_;
  int current_ = -1;  // index of the section parameters go to
};

#endif
