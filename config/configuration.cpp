#include "config/configuration.h"

#include <memory>

#include "core/log.h"
#include "core/process_state.h"

static std::unique_ptr<IniFile> the_configuration;
static ScriptVariable configuration_path("");

static const char kTrimSet[] = " \t\n\r";

bool LoadConfiguration(const ScriptVariable &path,
                       IniFile::Listener *listener) {
  configuration_path = path;
  the_configuration = std::make_unique<IniFile>();
  if (the_configuration->Load(path.c_str(), listener)) return true;
  LogMessage("%s:%d: %s", path.c_str(), the_configuration->ErrorLine(),
             the_configuration->ErrorText());
  LogMessage("%s: error loading configuration file", path.c_str());
  return false;
}

IniFile *TheConfiguration() { return the_configuration.get(); }
ScriptVariable ConfigurationPath() { return configuration_path; }

void ResetConfiguration() {
  the_configuration.reset();
  configuration_path = "";
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kConfig, ResetConfiguration);

static ScriptVariable FromText(const char *text) {
  return text ? ScriptVariable(text) : ScriptVariable::Absent();
}

static const char *ToText(const ScriptVariable &v) {
  return v.IsAbsent() ? nullptr : v.c_str();
}

ScriptVariable ConfigString(const char *type, const char *name, const char *key,
                            const ScriptVariable &dflt) {
  if (!the_configuration) return dflt;
  return FromText(the_configuration->GetString(type, name, key, ToText(dflt)));
}

long ConfigInt(const char *type, const char *name, const char *key, long dflt) {
  if (!the_configuration) return dflt;
  return the_configuration->GetInt(type, name, key, dflt);
}

ScriptVariable ConfigQualified(const char *type, const char *name,
                               const char *key, const char *qualifier,
                               const ScriptVariable &dflt) {
  if (!the_configuration) return dflt;
  return FromText(the_configuration->GetQualified(type, name, key, qualifier,
                                                  ToText(dflt)));
}

int ConfigCountSections(const char *type) {
  return the_configuration ? the_configuration->CountSections(type) : 0;
}

ScriptVariable ConfigSectionName(const char *type, int index) {
  if (!the_configuration) return ScriptVariable("");
  return ScriptVariable(the_configuration->SectionName(type, index));
}

static ScriptVariable Named(
    const char *type, const ScriptVariable &name, const char *key,
    const ScriptVariable &dflt = ScriptVariable::Absent()) {
  return ConfigString(type, name.c_str(), key, dflt);
}

// general
ScriptVariable GeneralName() {
  return ConfigString("general", nullptr, "name", "unnamed_hovantra");
}
ScriptVariable GeneralLog() {
  return ConfigString("general", nullptr, "log", "hovantra.log");
}
ScriptVariable GeneralStateFile() {
  return ConfigString("general", nullptr, "state", "hovantra.state");
}
ScriptVariable GeneralDefaultState() {
  return ConfigString("general", nullptr, "defaultstate", "#nostate#");
}
long GeneralWatchdog() { return ConfigInt("general", nullptr, "watchdog", 30); }
ScriptVariable GeneralPassword() {
  return ConfigString("general", nullptr, "password");
}

// webserver
ScriptVariable WebserverIp() {
  return ConfigString("webserver", nullptr, "ip", "127.0.0.1");
}
long WebserverPort() { return ConfigInt("webserver", nullptr, "port", 7281); }
ScriptVariable WebserverRealm() {
  return ConfigString("webserver", nullptr, "realm", "127.0.0.1");
}
ScriptVariable WebserverP404() {
  return ConfigString("webserver", nullptr, "p404", "Not found");
}
ScriptVariable WebserverP401() {
  return ConfigString("webserver", nullptr, "p401", ScriptVariable::Absent());
}
ScriptVariable WebserverHtml(const ScriptVariable &qualifier) {
  return ConfigQualified("webserver", nullptr, "html", qualifier.c_str());
}

ScriptVariable WebserverUserPassword(const ScriptVariable &user) {
  ScriptVariable users = ConfigString("webserver", nullptr, "users", "");
  for (const ScriptVariable &entry : SplitTokens(users, ",\n", " \r\t")) {
    ScriptVector parts = SplitTokens(entry, ":", " \r\n\t");
    if (parts.size() < 2) continue;
    if (parts[0] == user) return parts[1];
  }
  return ScriptVariable::Absent();
}

// console
ScriptVariable ConsoleIp() {
  return ConfigString("console", nullptr, "ip", "127.0.0.1");
}
long ConsolePort() { return ConfigInt("console", nullptr, "port", 7280); }
long ConsoleTimeout() { return ConfigInt("console", nullptr, "timeout", 60); }
ScriptVariable ConsoleTrusted() {
  return ConfigString("console", nullptr, "trusted", "");
}
ScriptVariable ConsoleGreeting(bool trusted) {
  return ConfigQualified("console", nullptr, "greeting",
                         trusted ? "trusted" : "untrusted", "");
}

// sms
ScriptVariable SmsIncoming() {
  return ConfigString("sms", nullptr, "incoming");
}
ScriptVariable SmsOutgoing() {
  return ConfigString("sms", nullptr, "outgoing", "/var/sms/out");
}
ScriptVariable SmsComposing() {
  return ConfigString("sms", nullptr, "composing", "/var/hovantra/sms");
}
ScriptVariable SmsProceeded() {
  return ConfigString("sms", nullptr, "proceeded", "/var/hovantra/sms_done");
}
ScriptVariable SmsFailed() { return ConfigString("sms", nullptr, "failed"); }

// notification
ScriptVariable NotificationMessage(const ScriptVariable &name) {
  return Named("notification", name, "message");
}
ScriptVariable NotificationPhones(const ScriptVariable &name) {
  return Named("notification", name, "phones");
}

// event
ScriptVariable EventFsm(const ScriptVariable &name) {
  return Named("event", name, "fsm", "");
}
ScriptVariable EventKey(const ScriptVariable &name, const char *key,
                        const ScriptVariable &state) {
  return ConfigQualified("event", name.c_str(), key, state.c_str());
}

// state
ScriptVariable StateKey(const ScriptVariable &name, const char *key) {
  return Named("state", name, key);
}

// command
ScriptVariable CommandKey(const ScriptVariable &name, const char *key) {
  return CommandSection(name).Key(key);
}
long CommandArgs(const ScriptVariable &name) {
  return CommandSection(name).Args();
}
bool CommandUnpriv(const ScriptVariable &name) {
  return CommandSection(name).Unpriv();
}

CommandSection::CommandSection(const ScriptVariable &name)
    : section_(the_configuration
                   ? the_configuration->GetSection("command", name.c_str())
                   : nullptr) {}

ScriptVariable CommandSection::Key(const char *key) const {
  if (!section_) return ScriptVariable::Absent();
  const char *v = the_configuration->ValueIn(section_, key);
  return *v ? ScriptVariable(v) : ScriptVariable::Absent();
}

long CommandSection::Args() const {
  return section_ ? the_configuration->IntIn(section_, "args", -1) : -1;
}

bool CommandSection::Unpriv() const {
  ScriptVariable v = Key("unpriv");
  return !v.IsAbsent() && v.Tolower() == "yes";
}

// variable
bool VariableEnabled(const ScriptVariable &name) {
  ScriptVariable v = Named("variable", name, "enable");
  return !v.IsAbsent() && ScriptVariable(v).Trim(kTrimSet).Toupper() == "YES";
}
ScriptVariable VariableDefault(const ScriptVariable &name) {
  return Named("variable", name, "default", "");
}

// webpage
ScriptVariable WebpageKey(const ScriptVariable &name, const char *key) {
  if (ScriptVariable(key) == "mimetype")
    return Named("webpage", name, key, "text/html");
  return Named("webpage", name, key);
}
bool WebpagePublic(const ScriptVariable &name) {
  ScriptVariable v = WebpageKey(name, "public");
  return !v.IsAbsent() && ScriptVariable(v).Tolower() == "yes";
}
ScriptVariable WebpageResolve(const ScriptVariable &name) {
  static const int kMaxRedirections = 19;
  ScriptVariable current = name;
  for (int followed = 0;; followed++) {
    ScriptVariable alias = WebpageKey(current, "alias_for");
    if (alias.IsAbsent()) return current;
    if (followed == kMaxRedirections) {
      LogMessage("config. err: too many redirections for %s", alias.c_str());
      return ScriptVariable::Absent();
    }
    current = alias;
  }
}

// phone
ScriptVariable PhoneAuth(const ScriptVariable &phone) {
  return Named("phone", phone, "auth");
}
ScriptVariable PhonePassword(const ScriptVariable &phone) {
  return Named("phone", phone, "password");
}

// device
static ScriptVariable Trimmed(ScriptVariable v) {
  if (v.IsAbsent()) return v;
  v.Trim(kTrimSet);
  return v.IsEmpty() ? ScriptVariable::Absent() : v;
}
ScriptVariable DeviceKey(const ScriptVariable &section, const char *key,
                         int line) {
  ScriptVariable qualifier = ScriptFormat("%d", line);
  return Trimmed(
      ConfigQualified("device", section.c_str(), key, qualifier.c_str()));
}
ScriptVariable DeviceOnewire(const ScriptVariable &section) {
  return Trimmed(Named("device", section, "onewire"));
}
bool ConfigIsYes(const ScriptVariable &value) {
  return !value.IsAbsent() &&
         ScriptVariable(value).Trim(kTrimSet).Tolower() == "yes";
}

// temp_sensor
ScriptVariable TempSensorKey(const ScriptVariable &name, const char *key) {
  return Named("temp_sensor", name, key);
}
