#include "net/http_message.h"

#include <cstdlib>
#include <cstring>

void OVKHttpMessage::AddHeader(const ScriptVariable &name,
                               const ScriptVariable &value) {
  headers_.push_back(Header{name, value});
}

void OVKHttpMessage::ClearHead() {
  start_line_ = ScriptVariable::Absent();
  headers_.clear();
}

ScriptVariable GetHeader(const OVKHttpMessage &message, const char *name) {
  for (int i = 0; i < message.HeaderCount(); i++) {
    const OVKHttpMessage::Header &h = message.HeaderAt(i);
    if (h.name == name) return h.value;
  }
  return ScriptVariable::Absent();
}

ScriptVariable HttpDecode(const ScriptVariable &text) {
  const std::string &s = text.Str();
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); i++) {
    char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && s.size() - i >= 3) {
      // Read as strtol does, so sign and blank prefixes behave as they
      // always have.
      char pair[3] = {s[i + 1], s[i + 2], 0};
      char value = static_cast<char>(strtol(pair, nullptr, 16));
      if (value == 0) break;  // a zero byte ends the text
      out += value;
      i += 2;
    } else {
      if (c == 0) break;
      out += c;
    }
  }
  return ScriptVariable(std::move(out));
}

HttpFormFields ParseForm(const ScriptVariable &text) {
  HttpFormFields fields;
  const std::string &s = text.Str();
  size_t pos = 0;
  while (pos < s.size()) {
    size_t eq = s.find('=', pos);
    if (eq == std::string::npos) break;  // trailing text without a value
    size_t amp = s.find('&', eq + 1);
    size_t end = amp == std::string::npos ? s.size() : amp;
    fields.emplace_back(HttpDecode(s.substr(pos, eq - pos)),
                        HttpDecode(s.substr(eq + 1, end - eq - 1)));
    if (amp == std::string::npos) break;
    pos = amp + 1;
  }
  return fields;
}
