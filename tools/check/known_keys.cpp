#include "tools/check/known_keys.h"

#include <algorithm>

namespace {

struct KnownKey {
  const char *type;
  const char *key;
  Qualifiers qualifiers;
};

const KnownKey kKeys[] = {
    {"general", "name", kPlain},
    {"general", "log", kPlain},
    {"general", "state", kPlain},
    {"general", "defaultstate", kPlain},
    {"general", "watchdog", kPlain},
    {"general", "password", kPlain},
    {"webserver", "ip", kPlain},
    {"webserver", "port", kPlain},
    {"webserver", "realm", kPlain},
    {"webserver", "p404", kPlain},
    {"webserver", "p401", kPlain},
    {"webserver", "html", kAnyQualifier},
    {"webserver", "users", kPlain},
    {"console", "ip", kPlain},
    {"console", "port", kPlain},
    {"console", "timeout", kPlain},
    {"console", "trusted", kPlain},
    {"console", "greeting", kGreeting},
    {"sms", "incoming", kPlain},
    {"sms", "outgoing", kPlain},
    {"sms", "composing", kPlain},
    {"sms", "proceeded", kPlain},
    {"sms", "failed", kPlain},
    {"notification", "message", kPlain},
    {"notification", "phones", kPlain},
    {"event", "fsm", kPlain},
    {"event", "action", kStateName},
    {"event", "exec", kStateName},
    {"event", "notification", kStateName},
    {"event", "transit", kStateName},
    {"event", "subevents", kStateName},
    {"state", "lamp", kPlain},
    {"state", "sound", kPlain},
    {"state", "notification", kPlain},
    {"state", "transit", kPlain},
    {"state", "unready", kPlain},
    {"command", "alias_for", kPlain},
    {"command", "action", kPlain},
    {"command", "event", kPlain},
    {"command", "response", kPlain},
    {"command", "unpriv", kPlain},
    {"command", "args", kPlain},
    {"variable", "enable", kPlain},
    {"variable", "default", kPlain},
    {"webpage", "alias_for", kPlain},
    {"webpage", "type", kPlain},
    {"webpage", "mimetype", kPlain},
    {"webpage", "public", kPlain},
    {"webpage", "content", kPlain},
    {"webpage", "response", kPlain},
    {"webpage", "path", kPlain},
    {"phone", "auth", kPlain},
    {"phone", "password", kPlain},
    {"device", "output", kOutputLine},
    {"device", "output_sync", kOutputLine},
    {"device", "input", kInputLine},
    {"device", "input_on", kInputLine},
    {"device", "input_off", kInputLine},
    {"device", "onewire", kPlain},
    {"temp_sensor", "id", kPlain},
    {"temp_sensor", "report", kPlain},
    {"temp_sensor", "watermarks", kPlain},
    {"mqtt", "host", kPlain},
    {"mqtt", "port", kPlain},
    {"mqtt", "client_id", kPlain},
    {"mqtt", "user", kPlain},
    {"mqtt", "password", kPlain},
    {"mqtt", "cafile", kPlain},
    {"mqtt", "keepalive", kPlain},
    {"mqtt", "prefix", kPlain},
    {"mqtt", "trusted", kPlain},
    {"mqtt", "panel", kPlain},
    {"mqtt", "states", kAnyQualifier},    // a panel's machine
    {"mqtt", "commands", kAnyQualifier},  // a panel's machine
    {"mqtt", "code", kAnyQualifier},      // a panel's machine
    {"mqtt", "class", kAnyQualifier},     // an input line's name
    {"mqtt", "discovery", kPlain},
    {"mqtt", "discovery_prefix", kPlain},
};

// Edits (insert, delete, replace, swap two neighbours) from a to b.
size_t EditDistance(const std::string &a, const std::string &b) {
  std::vector<std::vector<size_t>> d(a.size() + 1,
                                     std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); i++) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); j++) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); i++) {
    for (size_t j = 1; j <= b.size(); j++) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

const std::vector<std::string> &KnownTypes() {
  static const std::vector<std::string> types = [] {
    std::vector<std::string> list;
    for (const KnownKey &k : kKeys)
      if (std::find(list.begin(), list.end(), k.type) == list.end())
        list.push_back(k.type);
    return list;
  }();
  return types;
}

bool IsKnownType(const std::string &type) {
  const std::vector<std::string> &types = KnownTypes();
  return std::find(types.begin(), types.end(), type) != types.end();
}

std::vector<std::string> KnownKeys(const std::string &type) {
  std::vector<std::string> keys;
  for (const KnownKey &k : kKeys)
    if (type == k.type) keys.push_back(k.key);
  return keys;
}

bool KeyQualifiers(const std::string &type, const std::string &key,
                   Qualifiers *qualifiers) {
  for (const KnownKey &k : kKeys) {
    if (type == k.type && key == k.key) {
      *qualifiers = k.qualifiers;
      return true;
    }
  }
  return false;
}

std::string NearestName(const std::string &word,
                        const std::vector<std::string> &candidates) {
  std::string best;
  size_t best_distance = 3;
  for (const std::string &c : candidates) {
    size_t d = EditDistance(word, c);
    if (d < best_distance && 2 * d < std::max(word.size(), c.size())) {
      best = c;
      best_distance = d;
    }
  }
  return best;
}
