#include "net/digest_auth.h"

#include <md5.h>
#include <strings.h>

#include <string>

#include "core/log.h"
#include "core/log_text.h"

// libmd rather than a general crypto library: it is all we need, and it
// keeps a megabyte and a half of library pages out of the daemon.
ScriptVariable MD5hex(const ScriptVariable &text) {
  char hex[MD5_DIGEST_STRING_LENGTH];  // lower-case digits and a zero
  MD5Data(reinterpret_cast<const uint8_t *>(text.c_str()), text.Length(), hex);
  return ScriptVariable(hex);
}

bool SameDigest(const ScriptVariable &answer, const ScriptVariable &expected) {
  // The time taken must not tell how many leading digits were right.
  if (answer.Length() != expected.Length()) return false;
  const std::string &a = answer.Str();
  const std::string &e = expected.Str();
  unsigned char differ = 0;
  for (size_t i = 0; i < a.size(); i++) {
    unsigned char c = static_cast<unsigned char>(a[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    differ |= static_cast<unsigned char>(c ^ static_cast<unsigned char>(e[i]));
  }
  return differ == 0;
}

DigestParameters ParseDigestParameters(const ScriptVariable &text) {
  enum { kSkip, kName, kToEquals, kBeforeValue, kPlain, kQuoted, kToComma };
  DigestParameters params;
  const std::string &s = text.Str();
  int state = kSkip;
  size_t start = 0;
  std::string name;
  for (size_t i = 0; i < s.size(); i++) {
    char c = s[i];
    bool blank = c == ' ' || c == '\t';
    switch (state) {
      case kSkip:  // the first character always belongs to the name
        if (blank) break;
        start = i;
        state = kName;
        break;
      case kName:
        if (blank || c == '=') {
          name = s.substr(start, i - start);
          state = c == '=' ? kBeforeValue : kToEquals;
        }
        break;
      case kToEquals:
        if (c == '=') state = kBeforeValue;
        break;
      case kBeforeValue:
        if (blank) break;
        if (c == '"') {
          start = i + 1;
          state = kQuoted;
          break;
        }
        start = i;  // the first character always belongs to the value
        state = kPlain;
        break;
      case kPlain:
        if (blank || c == ',') {
          params.emplace_back(name, s.substr(start, i - start));
          state = c == ',' ? kSkip : kToComma;
        }
        break;
      case kQuoted:
        if (c == '"') {
          params.emplace_back(name, s.substr(start, i - start));
          state = kToComma;
        }
        break;
      case kToComma:
        if (c == ',') state = kSkip;
        break;
    }
  }
  if (state == kPlain) params.emplace_back(name, s.substr(start));
  return params;
}

ScriptVariable FindDigestParameter(const DigestParameters &params,
                                   const char *name) {
  for (const auto &p : params)
    if (strcasecmp(p.first.c_str(), name) == 0) return p.second;
  return ScriptVariable::Absent();
}

OVKDigestAuthMachine::OVKDigestAuthMachine(OVKEventSelector *selector,
                                           const ScriptVariable &realm)
    : OVKWebSessionCollection(selector), realm_(realm) {}

void OVKDigestAuthMachine::Challenge(OVKHttpServerSession *session,
                                     bool stale) {
  OVKWebSession *web_session = NewSession();
  session->AddHeader(
      "WWW-Authenticate",
      ScriptFormat("Digest realm=\"%s\", nonce=\"%s\"%s", realm_.c_str(),
                   web_session->Key().c_str(), stale ? ", stale=TRUE" : ""));
  ScriptVariable page = ChallengePage();
  session->Response().Body().AddData(page.c_str(),
                                     static_cast<int>(page.Length()));
  session->SendError(401, "Authorization Required", nullptr, true);
}

// An owner wants to see who tries passwords; the name comes from the
// network, so its control bytes are written as \xHH.
static void LogFailedLogin(const ScriptVariable &user) {
  if (user.IsAbsent()) return;  // a first request, not an attempt
  LogMessage("webserver: failed login for user ``%s''", LogSafe(user).c_str());
}

void OVKDigestAuthMachine::Authenticate(OVKHttpServerSession *session,
                                        OVKHttpRequestParser &request,
                                        OVKHttpMessage &response) {
  ScriptVariable auth = GetHeader(request, "Authorization");
  if (auth.IsAbsent() || auth.Length() < 7 ||
      strncasecmp(auth.c_str(), "Digest ", 7) != 0) {
    Challenge(session, false);
    return;
  }
  DigestParameters params = ParseDigestParameters(auth.Range(7));
  ScriptVariable realm = FindDigestParameter(params, "realm");
  ScriptVariable nonce = FindDigestParameter(params, "nonce");
  ScriptVariable uri = FindDigestParameter(params, "uri");
  ScriptVariable answer = FindDigestParameter(params, "response");
  ScriptVariable user = FindDigestParameter(params, "username");
  ScriptVariable password = ScriptVariable::Absent();
  if (!user.IsAbsent()) password = GetPassword(user);
  // The answer covers the uri it names; that must be the target of this
  // very request, or a captured answer for one page would open any other.
  if (realm.IsAbsent() || nonce.IsAbsent() || uri.IsAbsent() ||
      answer.IsAbsent() || user.IsAbsent() || password.IsAbsent() ||
      realm != realm_ || uri != session->Target()) {
    LogFailedLogin(user);
    Challenge(session, false);
    return;
  }
  ScriptVariable ha1 = MD5hex(user + ":" + realm + ":" + password);
  ScriptVariable ha2 = MD5hex(session->Method() + ":" + uri);
  ScriptVariable expected = MD5hex(ha1 + ":" + nonce + ":" + ha2);
  if (!SameDigest(answer, expected)) {
    LogFailedLogin(user);
    Challenge(session, false);
    return;
  }
  OVKWebSession *web_session = FindSession(nonce);
  if (web_session == nullptr) {
    Challenge(session, true);
    return;
  }
  web_session->HandleRequest(session, request, response, user);
  web_session->Renew();
}
