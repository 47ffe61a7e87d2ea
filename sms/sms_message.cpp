#include "sms/sms_message.h"

#include <cerrno>

bool SmsMessage::ReadFile(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) return false;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) Feed(buf, n);
  int saved = errno;
  fclose(f);
  errno = saved;
  return true;
}

void SmsMessage::Feed(const char *bytes, size_t len) {
  for (size_t i = 0; i < len; i++) {
    char c = bytes[i];
    switch (state_) {
      case kLineStart:
        if (c == '\n') {
          state_ = kBody;
        } else {
          names_.push_back(ScriptVariable(&c, 1));
          values_.push_back(ScriptVariable());
          state_ = kName;
        }
        break;
      case kName:
        if (c == '\n') {
          values_.back() = ScriptVariable::Absent();
          state_ = kLineStart;
        } else if (c == ':') {
          state_ = kAfterColon;
        } else {
          names_.back() += c;
        }
        break;
      case kAfterColon:
        if (c == '\n') {
          state_ = kLineStart;
        } else {
          if (c != ' ') values_.back() += c;
          state_ = kValue;
        }
        break;
      case kValue:
        if (c == '\n')
          state_ = kLineStart;
        else
          values_.back() += c;
        break;
      case kBody:
        body_ += c;
        break;
    }
  }
}

ScriptVariable SmsMessage::GetHeader(const ScriptVariable &name) const {
  for (size_t i = 0; i < names_.size(); i++)
    if (names_[i] == name) return values_[i];
  return ScriptVariable::Absent();
}

void SmsMessage::SetHeader(const ScriptVariable &name,
                           const ScriptVariable &value) {
  for (size_t i = 0; i < names_.size(); i++) {
    if (names_[i] == name) {
      values_[i] = value;
      return;
    }
  }
  names_.push_back(name);
  values_.push_back(value);
}

void SmsMessage::ClearHeaders() {
  names_.clear();
  values_.clear();
}

void SmsMessage::Clear() {
  ClearHeaders();
  body_.clear();
  state_ = kLineStart;
}

void SmsMessage::AppendBody(const ScriptVariable &text) { body_ += text.Str(); }

ScriptVariable SmsMessage::BodyText() const {
  std::string text = body_;
  for (char &c : text)
    if (c == '\0') c = '?';
  return ScriptVariable(std::move(text));
}

std::string SmsMessage::Serialize() const {
  std::string out;
  for (size_t i = 0; i < names_.size(); i++) {
    out += names_[i].Str();
    if (!values_[i].IsAbsent()) {
      out += ": ";
      out += values_[i].Str();
    }
    out += '\n';
  }
  if (!body_.empty()) {
    out += '\n';
    out += body_;
  }
  return out;
}

bool SmsMessage::Write(FILE *f) const {
  std::string bytes = Serialize();
  return fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}
