// SmsMessage: one message file of the gateway's spool, in memory.
//
// File format, shared by every spool directory:
//   - zero or more header lines "Name: value\n" (names case-sensitive, order
//     kept, a name may repeat);
//   - when the body is not empty: one empty line, then the body bytes as
//     they are, up to the end of the file.
//
// The reader is lenient in the way the gateway's files need: only the first
// blank after the colon is skipped, carriage returns are ordinary bytes, and
// a header line without a colon gives a header whose value is absent.
#ifndef HOVANTRA_SMS_SMS_MESSAGE_H
#define HOVANTRA_SMS_SMS_MESSAGE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "util/script_variable.h"

class SmsMessage {
 public:
  SmsMessage() = default;

  // Reads the whole file at path into the message (added to what it holds).
  // False with errno set when the file cannot be opened.
  bool ReadFile(const char *path);
  // Feeds bytes through the reader, one at a time, as ReadFile does.
  void Feed(const char *bytes, size_t len);

  // Value of the first header named exactly name, or absent.
  ScriptVariable GetHeader(const ScriptVariable &name) const;
  // Replaces the value of the first header named name, or appends a header.
  void SetHeader(const ScriptVariable &name, const ScriptVariable &value);
  void ClearHeaders();  // the body stays
  void Clear();         // headers, body and reader state

  int HeaderCount() const { return static_cast<int>(names_.size()); }
  const ScriptVariable &HeaderName(int i) const { return names_[i]; }
  const ScriptVariable &HeaderValue(int i) const { return values_[i]; }

  void AppendBody(const ScriptVariable &text);
  const std::string &Body() const { return body_; }
  // The body with each zero byte shown as "?".
  ScriptVariable BodyText() const;

  // Writes the message in the file format.  A header with an absent value
  // is written as its bare name, which reads back as absent.  False when a
  // write fails.
  bool Write(FILE *f) const;
  // The bytes Write produces.
  std::string Serialize() const;

 private:
  enum ReaderState { kLineStart, kName, kAfterColon, kValue, kBody };

  std::vector<ScriptVariable> names_;
  std::vector<ScriptVariable> values_;
  std::string body_;
  ReaderState state_ = kLineStart;
};

#endif
