// OVKDigestAuthMachine: HTTP Digest access authentication in its original
// form (MD5 over user, realm, password, nonce, method and uri; no qop).
//
// An answer counts only for the request target it names in `uri`.
//
// Every nonce handed out is the key of a web session of the table this
// machine is.  A request is served when its digest is right and its nonce
// names a live session, which then lives on; a right digest with a dead
// nonce is answered with a fresh nonce marked stale, so browsers retry
// without asking the user.  Every other failure gets a plain challenge.
#ifndef HOVANTRA_NET_DIGEST_AUTH_H
#define HOVANTRA_NET_DIGEST_AUTH_H

#include <utility>
#include <vector>

#include "net/http_message.h"
#include "net/http_request_parser.h"
#include "net/http_server_session.h"
#include "net/nonce_session.h"
#include "util/script_variable.h"

class OVKDigestAuthMachine : public OVKWebSessionCollection {
 public:
  OVKDigestAuthMachine(OVKEventSelector *selector, const ScriptVariable &realm);

  const ScriptVariable &Realm() const { return realm_; }

  // Serves the request through the web session of its nonce, or answers
  // 401.
  void Authenticate(OVKHttpServerSession *session,
                    OVKHttpRequestParser &request, OVKHttpMessage &response);
  // 401 "Authorization Required" with a new session's nonce.
  void Challenge(OVKHttpServerSession *session, bool stale);

 protected:
  // The password of user, or absent when there is no such user.
  virtual ScriptVariable GetPassword(const ScriptVariable &user) = 0;
  // The page sent with a 401, what a browser shows when its user gives up
  // on the password; empty (the default) for the plain error page.
  virtual ScriptVariable ChallengePage() { return ScriptVariable(); }

 private:
  ScriptVariable realm_;
};

// MD5 of the bytes of text as 32 lower-case hex digits.
ScriptVariable MD5hex(const ScriptVariable &text);

// Whether a digest answer equals the expected lower-case digest, without
// regard to the case of its letters, in time that depends on the length
// only.
bool SameDigest(const ScriptVariable &answer, const ScriptVariable &expected);

using DigestParameters = std::vector<std::pair<ScriptVariable, ScriptVariable>>;
// Splits the text after "Digest " into (name, value) pairs: name=value or
// name="value" separated by commas; quoted values have no escapes.
DigestParameters ParseDigestParameters(const ScriptVariable &text);
// The first value whose name equals name regardless of case, or absent.
ScriptVariable FindDigestParameter(const DigestParameters &params,
                                   const char *name);

#endif
