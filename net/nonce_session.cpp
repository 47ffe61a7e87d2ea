#include "net/nonce_session.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "util/kernel_random.h"

static const uint32_t kFirstMask = 0x3c5a9e17;
static const uint32_t kLastMask = 0x6b2d40f9;

ScriptVariable EncodeKey(int index, unsigned random, unsigned seconds) {
  uint32_t i = static_cast<uint32_t>(index);
  uint32_t first = ((i * 117 + 135) ^ kFirstMask) & 0x7fffffff;
  uint32_t last = ((i * 191 + 777) ^ kLastMask) & 0x7fffffff;
  return ScriptFormat("%08x%08x%08x%08x", first, random, seconds, last);
}

// Reads 8 characters as strtol does with radix 16; all must be used.
static bool ReadField(const char *text, uint32_t *value) {
  char field[9];
  for (int i = 0; i < 8; i++) field[i] = text[i];
  field[8] = 0;
  char *end = nullptr;
  long v = strtol(field, &end, 16);
  if (end != field + 8) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

int DecodeKeyIndex(const ScriptVariable &key) {
  if (key.Length() != 32) return -1;
  uint32_t first, last;
  if (!ReadField(key.c_str(), &first)) return -1;
  if (!ReadField(key.c_str() + 24, &last)) return -1;
  // The sums are done in 64 bits: a forged field near the smallest 32-bit
  // value must not overflow.  Every key this server makes decodes the same.
  int64_t a =
      (static_cast<int64_t>(static_cast<int32_t>(first ^ kFirstMask)) - 135) /
      117;
  int64_t b =
      (static_cast<int64_t>(static_cast<int32_t>(last ^ kLastMask)) - 777) /
      191;
  if (a != b || a < INT32_MIN || a > INT32_MAX) return -1;
  return static_cast<int>(a);
}

OVKWebSession::OVKWebSession(OVKWebSessionCollection *collection)
    : collection_(collection), selector_(collection->GetSessionSelector()) {
  SetFromNow(OVKWebSessionCollection::SessionLifetime(), 0);
  selector_->RegisterTimeout(this);
}

OVKWebSession::~OVKWebSession() {
  if (collection_ != nullptr) collection_->ReleaseIndex(this);
  selector_->RemoveTimeout(this);
}

const ScriptVariable &OVKWebSession::GetKey(int index) {
  if (key_.IsAbsent()) key_ = MakeKey(index);
  return key_;
}

ScriptVariable OVKWebSession::MakeKey(int index) {
  return EncodeKey(index, KernelRandom31(),
                   static_cast<unsigned>(time(nullptr)));
}

void OVKWebSession::Renew() {
  selector_->RemoveTimeout(this);
  SetFromNow(OVKWebSessionCollection::SessionLifetime(), 0);
  selector_->RegisterTimeout(this);
}

void OVKWebSession::TimeoutHandle() { delete this; }

OVKWebSessionCollection::OVKWebSessionCollection(OVKEventSelector *selector)
    : selector_(selector) {}

OVKWebSessionCollection::~OVKWebSessionCollection() {
  for (OVKWebSession *&slot : table_) {
    if (slot == nullptr) continue;
    OVKWebSession *session = slot;
    slot = nullptr;
    session->Detach();
    delete session;
  }
}

OVKWebSession *OVKWebSessionCollection::NearestToExpiry() const {
  OVKWebSession *nearest = nullptr;
  for (OVKWebSession *s : table_) {
    if (s == nullptr) continue;
    if (nearest == nullptr || s->ExpirySec() < nearest->ExpirySec() ||
        (s->ExpirySec() == nearest->ExpirySec() &&
         s->ExpiryUsec() < nearest->ExpiryUsec()))
      nearest = s;
  }
  return nearest;
}

OVKWebSession *OVKWebSessionCollection::NewSession() {
  if (live_ >= kMaxLiveSessions) delete NearestToExpiry();
  int index;
  if (!free_indices_.empty()) {
    index = free_indices_.back();
    free_indices_.pop_back();
  } else {
    index = high_water_++;
    if (index >= Capacity())
      table_.resize(table_.empty() ? 8 : table_.size() * 2, nullptr);
  }
  OVKWebSession *session = CreateSession(index);
  table_[index] = session;
  live_++;
  session->GetKey(index);
  return session;
}

OVKWebSession *OVKWebSessionCollection::FindSession(
    const ScriptVariable &nonce) const {
  int index = DecodeKeyIndex(nonce);
  if (index < 0 || index >= high_water_) return nullptr;
  OVKWebSession *session = table_[index];
  if (session == nullptr || session->Key() != nonce) return nullptr;
  return session;
}

void OVKWebSessionCollection::ReleaseIndex(OVKWebSession *session) {
  int index = session->Key().IsAbsent() ? -1 : DecodeKeyIndex(session->Key());
  if (index < 0 || index >= high_water_ || table_[index] != session) return;
  table_[index] = nullptr;
  live_--;
  if (index == high_water_ - 1) {
    high_water_--;
  } else {
    free_indices_.push_back(index);
  }
}
