#include "mqtt/json_text.h"

#include <cstdio>

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char code[8];
      snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonStringArray(const std::vector<std::string> &items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); i++) {
    if (i) out += ",";
    out += JsonString(items[i]);
  }
  return out + "]";
}

JsonObject &JsonObject::AddJson(const char *key, const std::string &value) {
  if (text_.size() > 1) text_ += ",";
  text_ += JsonString(key) + ":" + value;
  return *this;
}

JsonObject &JsonObject::Add(const char *key, const std::string &text) {
  return AddJson(key, JsonString(text));
}

JsonObject &JsonObject::Add(const char *key, bool value) {
  return AddJson(key, value ? "true" : "false");
}
