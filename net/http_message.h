// OVKHttpMessage: one HTTP message as the server sees it, a start line, an
// ordered header list and a body; plus the decoding of request paths and
// form texts shared by the server session and the web pages.
#ifndef HOVANTRA_NET_HTTP_MESSAGE_H
#define HOVANTRA_NET_HTTP_MESSAGE_H

#include <utility>
#include <vector>

#include "net/buffer.h"
#include "util/script_variable.h"

class OVKHttpMessage {
 public:
  struct Header {
    ScriptVariable name;
    ScriptVariable value;
  };

  OVKHttpMessage() = default;
  OVKHttpMessage(const OVKHttpMessage &) = delete;
  OVKHttpMessage &operator=(const OVKHttpMessage &) = delete;

  // Absent while no start line was set.
  const ScriptVariable &StartLine() const { return start_line_; }
  void SetStartLine(const ScriptVariable &line) { start_line_ = line; }

  // Appends; the list keeps insertion order and may hold repeated names.
  void AddHeader(const ScriptVariable &name, const ScriptVariable &value);
  // Forgets the start line and every header; the body stays.
  void ClearHead();
  int HeaderCount() const { return static_cast<int>(headers_.size()); }
  const Header &HeaderAt(int i) const { return headers_[i]; }

  OVKBuffer &Body() { return body_; }
  const OVKBuffer &Body() const { return body_; }

 private:
  ScriptVariable start_line_ = ScriptVariable::Absent();
  std::vector<Header> headers_;
  OVKBuffer body_;
};

// Value of the first header whose name equals name exactly (case matters),
// or absent.
ScriptVariable GetHeader(const OVKHttpMessage &message, const char *name);

// Decodes a request path or a form field: '+' becomes a blank; '%' with at
// least two characters after it becomes the byte those two read as hex by
// strtol, so a non-hex pair gives 0, which ends the text there; a '%' with
// fewer than two characters after it stays.
ScriptVariable HttpDecode(const ScriptVariable &text);

using HttpFormFields = std::vector<std::pair<ScriptVariable, ScriptVariable>>;

// Splits a form body: a name runs to the next '=' (an '&' before it belongs
// to the name), its value to the next '&' or the end; both are decoded with
// HttpDecode.  Text after the last '&' without any '=' is dropped.
HttpFormFields ParseForm(const ScriptVariable &text);

#endif
