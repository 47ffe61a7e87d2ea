// OVKHttpRequestParser: reads an HTTP request one byte at a time, as the
// bytes arrive, into the message it is.
//
// States: 0 before the request line (blank lines skipped), 1 request line,
// 2 header name, 3 header value, 4 after a value line, 5 continuation or end
// of head, 6 body (every further byte is body).  A header line that starts
// with a blank or tab continues the previous value, joined by one blank.
//
// The head size counts the significant bytes of the head (line ends, the
// blanks between name and colon and the blanks that start a folded line are
// not counted), so that the session can bound it.  The raw head size counts
// every byte fed before the body, line ends and blank lines included, which
// is what the head costs in memory and time.
#ifndef HOVANTRA_NET_HTTP_REQUEST_PARSER_H
#define HOVANTRA_NET_HTTP_REQUEST_PARSER_H

#include "net/buffer.h"
#include "net/http_message.h"

class OVKHttpRequestParser : public OVKHttpMessage {
 public:
  enum State {
    kBeforeRequest = 0,
    kRequestLine = 1,
    kHeaderName = 2,
    kHeaderValue = 3,
    kAfterValue = 4,
    kContinuation = 5,
    kBody = 6,
  };
  // Set on malformed head lines; informative only, nothing is rejected.
  enum Error {
    kBlankInName = 3,
    kLineWithoutColon = 4,
  };

  void Feed(unsigned char c);

  int State() const { return state_; }
  bool RequestLineComplete() const { return state_ >= kHeaderName; }
  bool HeadComplete() const { return state_ == kBody; }
  int HeadSize() const { return head_size_; }
  int RawHeadSize() const { return raw_head_size_; }
  int ErrorCode() const { return error_code_; }

 private:
  void Step(unsigned char c);
  void CompleteHeader();

  int state_ = kBeforeRequest;
  OVKBuffer token_;
  int colon_pos_ = -1;
  int head_size_ = 0;
  int raw_head_size_ = 0;
  int error_code_ = 0;
};

#endif
