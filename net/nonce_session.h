// Web sessions: the short-lived objects named by the nonces of Digest
// authentication, and the table that finds them by nonce.
//
// A nonce is 32 lower-case hex digits in four 8-digit fields: the encoded
// table index, a random number from the kernel, the creation time (seconds
// since the epoch) and the index encoded a second way.  FindSession decodes
// the index from the nonce, so no search is needed, and then compares the
// whole key, so a nonce of a dead session never matches a newer session in
// the same slot.
#ifndef HOVANTRA_NET_NONCE_SESSION_H
#define HOVANTRA_NET_NONCE_SESSION_H

#include <vector>

#include "core/event_selector.h"
#include "net/http_message.h"
#include "net/http_request_parser.h"
#include "util/script_variable.h"

class OVKHttpServerSession;
class OVKWebSessionCollection;

class OVKWebSession : public OVKTimeoutHandler {
 public:
  // Registers the expiry timer: now plus the collection's lifetime.
  explicit OVKWebSession(OVKWebSessionCollection *collection);
  // Gives the slot back (unless detached) and unregisters the timer.
  ~OVKWebSession() override;
  OVKWebSession(const OVKWebSession &) = delete;
  OVKWebSession &operator=(const OVKWebSession &) = delete;

  // The key, made with MakeKey(index) on the first call.
  const ScriptVariable &GetKey(int index);
  // Absent before the first GetKey.
  const ScriptVariable &Key() const { return key_; }
  // Starts the lifetime again from now.
  void Renew();
  // The collection is going away: do not give the slot back.
  void Detach() { collection_ = nullptr; }

  // Expiry: the session destroys itself.
  void TimeoutHandle() override;
  virtual ScriptVariable MakeKey(int index);
  virtual void HandleRequest(OVKHttpServerSession *session,
                             OVKHttpRequestParser &request,
                             OVKHttpMessage &response,
                             const ScriptVariable &user) = 0;

 private:
  ScriptVariable key_ = ScriptVariable::Absent();
  OVKWebSessionCollection *collection_;
  OVKEventSelector *selector_;
};

class OVKWebSessionCollection {
 public:
  explicit OVKWebSessionCollection(OVKEventSelector *selector);
  // Destroys every live session.
  virtual ~OVKWebSessionCollection();
  OVKWebSessionCollection(const OVKWebSessionCollection &) = delete;
  OVKWebSessionCollection &operator=(const OVKWebSessionCollection &) = delete;

  // Seconds a session lives after its creation or last use.
  static int SessionLifetime() { return 15; }
  // Live sessions at most.  Every challenge makes a session, so a flood of
  // requests without credentials would otherwise hold one per request for
  // the whole lifetime; at the bound the session closest to its end goes,
  // and a client still using its nonce gets a stale challenge and retries.
  static const int kMaxLiveSessions = 256;

  // A new session in a free slot (the most recently released first, else a
  // new one at the end; the table starts at 8 and doubles), with its key.
  OVKWebSession *NewSession();
  // The live session whose key is exactly nonce, or nullptr.
  OVKWebSession *FindSession(const ScriptVariable &nonce) const;
  // Empties the slot of session (when it holds it).
  void ReleaseIndex(OVKWebSession *session);

  OVKEventSelector *GetSessionSelector() const { return selector_; }
  int Capacity() const { return static_cast<int>(table_.size()); }
  int HighWater() const { return high_water_; }
  int LiveSessions() const { return live_; }

 protected:
  virtual OVKWebSession *CreateSession(int index) = 0;

 private:
  OVKEventSelector *selector_;
  std::vector<OVKWebSession *> table_;
  // The live session that expires first (the table is not empty).
  OVKWebSession *NearestToExpiry() const;

  int high_water_ = 0;
  int live_ = 0;
  std::vector<int> free_indices_;  // a stack: last released, first reused
};

// The table index encoded in a key, or -1 when the key is not 32
// characters, a field is not completely hex, or the two fields disagree.
int DecodeKeyIndex(const ScriptVariable &key);
// The key of a session at index with the given random and time fields.
ScriptVariable EncodeKey(int index, unsigned random, unsigned seconds);

#endif
