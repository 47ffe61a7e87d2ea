// JSON texts for the discovery payloads: strings, string arrays and one
// object built member by member in the order given.
#ifndef HOVANTRA_MQTT_JSON_TEXT_H
#define HOVANTRA_MQTT_JSON_TEXT_H

#include <string>
#include <vector>

// The text quoted, with quote, backslash and control bytes escaped; other
// bytes pass unchanged (names are taken to be UTF-8).
std::string JsonString(const std::string &text);
std::string JsonStringArray(const std::vector<std::string> &items);

class JsonObject {
 public:
  JsonObject &Add(const char *key, const std::string &text);
  JsonObject &Add(const char *key, const char *text) {
    return Add(key, std::string(text));
  }
  JsonObject &Add(const char *key, bool value);
  // value is JSON already (an array or an object).
  JsonObject &AddJson(const char *key, const std::string &value);
  std::string Text() const { return text_ + "}"; }

 private:
  std::string text_ = "{";
};

#endif
