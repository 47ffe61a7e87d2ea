// The configuration: one global IniFile read at start-up, and the accessors
// through which every part of the system reads its settings with their
// defaults.  A missing key and an empty value are the same; integers are
// decimal; qualified keys ("key:qualifier") fall back to the plain key.
//
// Single-instance sections (general, webserver, console, sms) are read from
// the first section of their type whatever its name; the other types are
// addressed by section name.
//
// Unlike the state file, whose sections belong to the subsystems that write
// them, the key table below stays in one place: it mirrors the manual page
// section by section with every default, a key's reading rules (trimming,
// case, qualifiers, fall-backs) are shared between sections, and keys are
// only ever read, so keeping them together costs no subsystem a dependency.
#ifndef HOVANTRA_CONFIG_CONFIGURATION_H
#define HOVANTRA_CONFIG_CONFIGURATION_H

#include "config/ini_file.h"
#include "util/script_variable.h"

// Loads path as the configuration, replacing any earlier one.  On failure
// logs "%s:%d: %s" and "%s: error loading configuration file" and returns
// false (the partly read document stays in place).  A listener sees every
// line as IniFile::Load describes, and loading goes on past faulty lines.
bool LoadConfiguration(const ScriptVariable &path,
                       IniFile::Listener *listener = nullptr);
// The loaded document, or nullptr before the first LoadConfiguration.
IniFile *TheConfiguration();
// The path given to the last LoadConfiguration ("" before).
ScriptVariable ConfigurationPath();
// Forgets the configuration; for tests.
void ResetConfiguration();

// Generic lookups; each gives its default when no configuration is loaded.
// A null name addresses the first section of the type.
ScriptVariable ConfigString(
    const char *type, const char *name, const char *key,
    const ScriptVariable &dflt = ScriptVariable::Absent());
long ConfigInt(const char *type, const char *name, const char *key, long dflt);
ScriptVariable ConfigQualified(
    const char *type, const char *name, const char *key, const char *qualifier,
    const ScriptVariable &dflt = ScriptVariable::Absent());
int ConfigCountSections(const char *type);
ScriptVariable ConfigSectionName(const char *type, int index);

// general
ScriptVariable GeneralName();          // "unnamed_hovantra"
ScriptVariable GeneralLog();           // "hovantra.log"
ScriptVariable GeneralStateFile();     // "hovantra.state"
ScriptVariable GeneralDefaultState();  // "#nostate#"
long GeneralWatchdog();                // 30 (seconds; 0: none)
ScriptVariable GeneralPassword();      // absent

// webserver
ScriptVariable WebserverIp();     // "127.0.0.1"
long WebserverPort();             // 7281
ScriptVariable WebserverRealm();  // "127.0.0.1"
ScriptVariable WebserverP404();   // "Not found"
ScriptVariable WebserverP401();   // absent: the plain error page
ScriptVariable WebserverHtml(const ScriptVariable &qualifier);  // absent
// Password of the first `users` entry named exactly user, or absent.
ScriptVariable WebserverUserPassword(const ScriptVariable &user);

// console
ScriptVariable ConsoleIp();       // "127.0.0.1"
long ConsolePort();               // 7280
long ConsoleTimeout();            // 60
ScriptVariable ConsoleTrusted();  // ""
// "greeting:trusted" / "greeting:untrusted", else "greeting", else "".
ScriptVariable ConsoleGreeting(bool trusted);

// sms
ScriptVariable SmsIncoming();   // absent
ScriptVariable SmsOutgoing();   // "/var/sms/out"
ScriptVariable SmsComposing();  // "/var/hovantra/sms"
ScriptVariable SmsProceeded();  // "/var/hovantra/sms_done"
ScriptVariable SmsFailed();     // absent

// notification <name>
ScriptVariable NotificationMessage(const ScriptVariable &name);
ScriptVariable NotificationPhones(const ScriptVariable &name);

// event <name>: fsm is plain; the other keys (action, exec, notification,
// transit, subevents) are qualified by the machine's current state.
ScriptVariable EventFsm(const ScriptVariable &name);  // ""
ScriptVariable EventKey(const ScriptVariable &name, const char *key,
                        const ScriptVariable &state);

// state <full name>: lamp, sound, notification, transit, unready (absent
// when missing or empty).
ScriptVariable StateKey(const ScriptVariable &name, const char *key);

// command <name in lower case>: alias_for, action, event, response, unpriv
// (absent when missing); args (-1 when missing or malformed).
ScriptVariable CommandKey(const ScriptVariable &name, const char *key);
long CommandArgs(const ScriptVariable &name);
// unpriv lower-cased (not trimmed) equals "yes".
bool CommandUnpriv(const ScriptVariable &name);

// One command section, found once, for reading several of its keys; each
// answers as CommandKey, CommandArgs and CommandUnpriv do.  Valid while the
// configuration stays loaded.
class CommandSection {
 public:
  explicit CommandSection(const ScriptVariable &name);
  ScriptVariable Key(const char *key) const;
  long Args() const;
  bool Unpriv() const;

 private:
  const IniFile::Section *section_;
};

// variable <name>
// enable trimmed of blank, tab, CR, LF and upper-cased equals "YES".
bool VariableEnabled(const ScriptVariable &name);
ScriptVariable VariableDefault(const ScriptVariable &name);  // ""

// webpage <name>: alias_for, type, mimetype ("text/html"), public, content,
// response, path.
ScriptVariable WebpageKey(const ScriptVariable &name, const char *key);
// public lower-cased equals "yes".
bool WebpagePublic(const ScriptVariable &name);
// Follows alias_for from name; the 20th alias_for is not followed: logs
// "config. err: too many redirections for %s" with its value and gives
// absent.  Otherwise gives the section name reached.
ScriptVariable WebpageResolve(const ScriptVariable &name);

// phone <number>
ScriptVariable PhoneAuth(const ScriptVariable &phone);      // absent
ScriptVariable PhonePassword(const ScriptVariable &phone);  // absent

// device <id>: output, output_sync, input, input_on, input_off qualified by
// the line number (falling back to the plain key), and onewire; each value
// trimmed of blank, tab, CR and LF, absent when empty.
ScriptVariable DeviceKey(const ScriptVariable &section, const char *key,
                         int line);
ScriptVariable DeviceOnewire(const ScriptVariable &section);
// "yes" in any letter case.
bool ConfigIsYes(const ScriptVariable &value);

// temp_sensor <name>: id, report, watermarks.
ScriptVariable TempSensorKey(const ScriptVariable &name, const char *key);

#endif
