#include "config/state_file.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>

#include <memory>

#include "config/ini_file.h"
#include "core/log.h"
#include "core/process_state.h"

static std::unique_ptr<IniFile> state_doc;
static ScriptVariable state_path("");

// A save writes "<file>.XXXXXX" and renames it over the file; a power cut
// or a kill in between leaves that temporary behind.  The file itself is
// whole either way, so the leftovers are only removed.
static void RemoveInterruptedSaves(const std::string &path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  while (struct dirent *e = readdir(d)) {
    const char *name = e->d_name;
    if (strlen(name) != base.size() + 7 || strncmp(name, base.c_str(), base.size()) != 0 ||
        name[base.size()] != '.')
      continue;
    bool random_suffix = true;
    for (const char *c = name + base.size() + 1; *c; c++)
      if (!isalnum(static_cast<unsigned char>(*c))) random_suffix = false;
    if (!random_suffix) continue;
    std::string leftover = dir + name;
    if (unlink(leftover.c_str()) == 0)
      LogMessage("Removed ``%s'', left behind by an interrupted save", leftover.c_str());
  }
  closedir(d);
}

void OpenStateFile(const ScriptVariable &path) {
  state_doc = std::make_unique<IniFile>();
  state_path = path;
  if (!path.HasPrefix("/")) {
    char cwd[1024];
    if (getcwd(cwd, sizeof cwd)) state_path = ScriptVariable(cwd) + "/" + path;
  }
  RemoveInterruptedSaves(state_path.Str());
  if (!state_doc->Load(state_path.c_str()))
    LogMessage("%s:%d: warning: reading state file problem: %s", path.c_str(),
               state_doc->ErrorLine(), state_doc->ErrorText());
}

bool StateFileIsOpen() { return state_doc != nullptr; }
ScriptVariable StateFilePath() { return state_path; }

void ResetStateFile() {
  state_doc.reset();
  state_path = "";
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kConfig, ResetStateFile);

// The reader takes lines of at most 1023 bytes with their newline; a
// longer "key = value" line would make the whole file unreadable at the
// next start, losing every state stored after it.
static bool FitsOneLine(const char *key, const ScriptVariable &value) {
  return strlen(key) + 3 + value.Length() + 1 <= 1023;
}

// Every change is written through at once; a failed write keeps the value
// in memory for the next successful one.
bool StoreStateValue(const char *type, const char *name, const char *key,
                     const ScriptVariable &value) {
  if (!state_doc) return false;
  if (!FitsOneLine(key, value)) {
    LogMessage("Value of ``%s'' too long for the state file (%d bytes), not stored",
               key, static_cast<int>(value.Length()));
    return false;
  }
  state_doc->SetValue(type, name, key, value.c_str(), true);
  state_doc->Save(state_path.c_str());
  return true;
}

ScriptVariable FetchStateValue(const char *type, const char *name,
                               const char *key) {
  if (!state_doc) return ScriptVariable::Absent();
  const char *v = state_doc->GetValue(type, name, key);
  return *v ? ScriptVariable(v) : ScriptVariable::Absent();
}
