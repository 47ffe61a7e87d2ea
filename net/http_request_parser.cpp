#include "net/http_request_parser.h"

static bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

static ScriptVariable TokenText(const OVKBuffer &token) {
  return ScriptVariable(token.GetBuffer(), token.Length());
}

void OVKHttpRequestParser::CompleteHeader() {
  const char *text = token_.GetBuffer();
  int length = token_.Length();
  int colon = colon_pos_ < 0 || colon_pos_ > length ? length : colon_pos_;
  int value_start = colon < length ? colon + 1 : length;
  while (value_start < length && IsBlank(text[value_start])) value_start++;
  AddHeader(ScriptVariable(text, colon),
            ScriptVariable(text + value_start, length - value_start));
}

void OVKHttpRequestParser::Feed(unsigned char c) {
  if (state_ != kBody) raw_head_size_++;
  Step(c);
}

void OVKHttpRequestParser::Step(unsigned char c) {
  char ch = static_cast<char>(c);
  switch (state_) {
    case kBeforeRequest:
      if (c == '\r' || c == '\n' || IsBlank(c)) return;
      state_ = kRequestLine;
      [[fallthrough]];
    case kRequestLine:
      if (c == '\r') return;
      head_size_++;
      if (c == '\n') {
        SetStartLine(TokenText(token_));
        token_.Erase();
        state_ = kHeaderName;
      } else {
        token_.AddChar(ch);
      }
      return;
    case kHeaderName:
      if (c == '\r' || IsBlank(c)) {
        error_code_ = kBlankInName;
      } else if (c == '\n') {
        if (token_.Length() == 0) {
          state_ = kBody;
        } else {
          // The next line goes on with the same name.
          error_code_ = kLineWithoutColon;
        }
      } else {
        head_size_++;
        if (c == ':') {
          colon_pos_ = token_.Length();
          state_ = kHeaderValue;
        }
        token_.AddChar(ch);
      }
      return;
    case kHeaderValue:
      if (c == '\r') return;
      if (c == '\n') {
        state_ = kAfterValue;
        return;
      }
      token_.AddChar(ch);
      head_size_++;
      return;
    case kAfterValue:
      if (IsBlank(c) || c == '\r') {
        state_ = kContinuation;
      } else if (c == '\n') {
        CompleteHeader();
        state_ = kBody;
      } else {
        CompleteHeader();
        token_.Erase();
        colon_pos_ = -1;
        state_ = kHeaderName;
        Step(c);
      }
      return;
    case kContinuation:
      if (IsBlank(c) || c == '\r') return;
      if (c == '\n') {
        CompleteHeader();
        head_size_++;
        state_ = kBody;
        return;
      }
      token_.AddChar(' ');
      token_.AddChar(ch);
      head_size_ += 2;
      state_ = kHeaderValue;
      return;
    case kBody:
    default:
      Body().AddChar(ch);
      return;
  }
}
