#include "tools/check/check.h"

#include "config/configuration.h"
#include "tools/check/text_refs.h"

std::string CheckContext::Value(const ConfigIndex::Section &s,
                                const std::string &key) const {
  return TheConfiguration()->GetValue(s.type.c_str(), s.name.c_str(),
                                      key.c_str());
}

int CheckContext::Line(const ConfigIndex::Section &s,
                       const std::string &key) const {
  return index.LineOf(s.type, s.name.c_str(), key);
}

std::string CheckContext::Where(const ConfigIndex::Section &s,
                                const std::string &key) {
  return s.type + (s.name.empty() ? "" : " " + s.name) + " " + key;
}

namespace {

void NameState(CheckContext &c, const std::string &state) {
  if (!state.empty() && !Substituted(state)) c.named_states.insert(state);
}

// Every state and line name the file defines, before any check needs them.
void CollectNames(CheckContext &c) {
  for (const ScriptVariable &state :
       SplitWords(ConfigString("general", nullptr, "defaultstate", "")))
    NameState(c, state.Str());
  for (const ConfigIndex::Section &s : c.index.Sections()) {
    if (s.type == "state") {
      c.state_sections.insert(s.name);
      NameState(c, s.name);
      ScriptVector transit = SplitTokens(c.Value(s, "transit"), ":", " \t\n");
      if (transit.size() > 1) NameState(c, transit[1].Str());
      NameState(c, ScriptVariable(c.Value(s, "unready")).Trim().Str());
    } else if (s.type == "event") {
      for (const ConfigIndex::Key &k : s.keys) {
        if (k.name.compare(0, 7, "transit") != 0) continue;
        for (const std::string &rule : ValueLines(c.Value(s, k.name))) {
          size_t arrow = rule.find("->");
          if (arrow == std::string::npos) continue;
          NameState(c, ScriptVariable(rule.substr(0, arrow)).Trim().Str());
          NameState(c, ScriptVariable(rule.substr(arrow + 2)).Trim().Str());
        }
      }
    } else if (s.type == "device") {
      for (const ConfigIndex::Key &k : s.keys) {
        std::string base, qualifier;
        SplitKey(k.name, &base, &qualifier);
        std::string name = ScriptVariable(c.Value(s, k.name)).Trim().Str();
        if (name.empty()) continue;
        if (base == "output") c.outputs.emplace(name, k.line);
        if (base == "input") c.inputs.emplace(name, k.line);
      }
    }
  }
}

}  // namespace

int CheckConfigurationFile(const std::string &path, FILE *out) {
  ConfigIndex index;
  Findings findings;
  LogCapture log;
  LoadConfiguration(path.c_str(), &index);
  log.Take();  // the daemon's own report of the first fault
  for (const ConfigIndex::Fault &f : index.Faults())
    findings.Add(kSyntax, f.line, f.text);
  if (!index.Faults().empty() && index.Faults().front().line == -1) {
    findings.Print(out, path);
    fprintf(out, "%s: error loading configuration file\n", path.c_str());
    return 1;
  }
  CheckContext c{index, findings, log, {}, {}, {}, {}, false};
  CollectNames(c);
  CheckKeys(c);
  CheckMachines(c);
  CheckHardware(c);
  CheckWebPages(c);
  CheckMqtt(c);
  CheckSettings(c);
  findings.Print(out, path);
  if (!index.Faults().empty())
    fprintf(out, "%s: error loading configuration file\n", path.c_str());
  return findings.ExitStatus();
}
