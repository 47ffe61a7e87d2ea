// The Digest parameter list as a client sends it after "Digest ", and the
// nonce it names, looked up in a table of live web sessions.
#include <string>

#include "core/event_selector.h"
#include "fuzz/fuzz_support.h"
#include "net/digest_auth.h"
#include "net/nonce_session.h"

namespace {

class Quiet : public OVKWebSession {
 public:
  explicit Quiet(OVKWebSessionCollection *table) : OVKWebSession(table) {}
  void HandleRequest(OVKHttpServerSession *, OVKHttpRequestParser &,
                     OVKHttpMessage &, const ScriptVariable &) override {}
};

class Table : public OVKWebSessionCollection {
 public:
  explicit Table(OVKEventSelector *selector)
      : OVKWebSessionCollection(selector) {}

 protected:
  OVKWebSession *CreateSession(int) override { return new Quiet(this); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ScriptVariable text(std::string(reinterpret_cast<const char *>(data), size));
  DigestParameters params = ParseDigestParameters(text);
  // Names and values are pieces of the text that do not overlap.
  size_t total = 0;
  for (const auto &p : params) {
    FUZZ_CHECK(!p.first.IsAbsent() && !p.second.IsAbsent());
    total += p.first.Length() + p.second.Length();
  }
  FUZZ_CHECK(total <= size);

  static const char *const kNames[] = {"username", "realm", "nonce", "uri",
                                       "response"};
  for (const char *name : kNames) FindDigestParameter(params, name);

  OVKEventSelector selector;
  Table table(&selector);
  for (int i = 0; i < 3; i++) table.NewSession();
  ScriptVariable nonce = FindDigestParameter(params, "nonce");
  if (nonce.IsAbsent()) nonce = text;
  OVKWebSession *found = table.FindSession(nonce);
  FUZZ_CHECK(found == nullptr || found->Key() == nonce);
  int index = DecodeKeyIndex(nonce);
  if (index >= 0 && index < (1 << 20)) {
    // Any key made for an index a table can reach decodes to it again.
    FUZZ_CHECK(DecodeKeyIndex(
                   EncodeKey(index, static_cast<unsigned>(size), 0)) == index);
  }
  return 0;
}
