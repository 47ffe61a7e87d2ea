#include "net/nonce_session.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "util/kernel_random.h"

namespace {

class CountingSession : public OVKWebSession {
 public:
  CountingSession(OVKWebSessionCollection *c, int *alive)
      : OVKWebSession(c), alive_(alive) {
    ++*alive_;
  }
  ~CountingSession() override { --*alive_; }
  void HandleRequest(OVKHttpServerSession *, OVKHttpRequestParser &,
                     OVKHttpMessage &, const ScriptVariable &) override {}

 private:
  int *alive_;
};

class Table : public OVKWebSessionCollection {
 public:
  explicit Table(OVKEventSelector *s, int *counter = nullptr)
      : OVKWebSessionCollection(s), counter_(counter ? counter : &alive) {}
  int alive = 0;

 protected:
  OVKWebSession *CreateSession(int) override {
    return new CountingSession(this, counter_);
  }

 private:
  int *counter_;
};

TEST(WebSessionKey, LayoutAndIndexRoundTrip) {
  ScriptVariable key = EncodeKey(0, 0x12345678, 0x5f000000);
  // ((0*117+135) ^ 0x3c5a9e17) & 0x7fffffff, ..., ((0*191+777) ^ 0x6b2d40f9)
  EXPECT_EQ("3c5a9e90123456785f0000006b2d43f0", key.Str());
  for (int i : {0, 1, 7, 8, 100, 65535}) {
    EXPECT_EQ(i, DecodeKeyIndex(EncodeKey(i, KernelRandom31(), 1700000000)))
        << i;
  }
}

TEST(WebSessionKey, MalformedKeysHaveNoIndex) {
  std::string good = EncodeKey(5, 77, 1700000000).Str();
  ASSERT_EQ(5, DecodeKeyIndex(good));
  EXPECT_EQ(-1, DecodeKeyIndex(good.substr(1)));  // 31 characters
  EXPECT_EQ(-1, DecodeKeyIndex(good + "0"));      // 33 characters
  std::string other = EncodeKey(6, 77, 1700000000).Str();
  EXPECT_EQ(-1, DecodeKeyIndex(good.substr(0, 24) + other.substr(24)));
  std::string bad_hex = good;
  bad_hex[3] = 'g';
  EXPECT_EQ(-1, DecodeKeyIndex(bad_hex));
  std::string bad_last = good;
  bad_last[31] = 'x';
  EXPECT_EQ(-1, DecodeKeyIndex(bad_last));
  // Fields that decode near the smallest 32-bit number (a forged nonce)
  // give no index; the sanitizer build would stop on an overflow here.
  EXPECT_EQ(-1, DecodeKeyIndex("bc5a9e17000000000000000000000000"));
  EXPECT_EQ(-1, DecodeKeyIndex("bc5a9e170000000000000000eb2d40f9"));
  EXPECT_EQ(-1, DecodeKeyIndex(""));
}

TEST(WebSessionCollection, TableGrowsAndReusesTheLastFreedSlotFirst) {
  OVKEventSelector selector;
  Table table(&selector);
  EXPECT_EQ(0, table.Capacity());
  std::vector<OVKWebSession *> sessions;
  std::set<std::string> keys;
  for (int i = 0; i < 9; i++) {
    sessions.push_back(table.NewSession());
    keys.insert(sessions.back()->Key().Str());
    EXPECT_EQ(i, DecodeKeyIndex(sessions.back()->Key()));
    EXPECT_EQ(i < 8 ? 8 : 16, table.Capacity());
  }
  EXPECT_EQ(9u, keys.size());
  EXPECT_EQ(9, table.HighWater());

  delete sessions[2];
  delete sessions[5];
  EXPECT_EQ(9, table.HighWater());
  EXPECT_EQ(7, table.alive);
  EXPECT_EQ(5, DecodeKeyIndex(table.NewSession()->Key()));
  EXPECT_EQ(2, DecodeKeyIndex(table.NewSession()->Key()));
  EXPECT_EQ(9, DecodeKeyIndex(table.NewSession()->Key()));

  // Giving back the highest slot lowers the high-water count instead.
  OVKWebSession *top = table.FindSession(sessions[8]->Key());
  ASSERT_EQ(sessions[8], top);
  delete sessions[8];
  EXPECT_EQ(10, table.HighWater());
  EXPECT_EQ(8, DecodeKeyIndex(table.NewSession()->Key()));
}

TEST(WebSessionCollection, FindComparesTheWholeKey) {
  OVKEventSelector selector;
  Table table(&selector);
  OVKWebSession *s = table.NewSession();
  std::string key = s->Key().Str();
  EXPECT_EQ(s, table.FindSession(key));
  std::string other_random = key;
  other_random[12] = other_random[12] == '0' ? '1' : '0';
  EXPECT_EQ(nullptr, table.FindSession(other_random));
  // The slot of a dead session is taken by one with another key.
  delete s;
  EXPECT_EQ(nullptr, table.FindSession(key));
  OVKWebSession *again = table.NewSession();
  EXPECT_EQ(0, DecodeKeyIndex(again->Key()));
  EXPECT_EQ(nullptr, table.FindSession(key));
  EXPECT_EQ(again, table.FindSession(again->Key()));
  // An index past the high-water count is not looked at.
  EXPECT_EQ(nullptr, table.FindSession(EncodeKey(3, 1, 1)));
}

TEST(WebSessionCollection, ExpiryDestroysAndRenewalRestarts) {
  OVKEventSelector selector;
  Table table(&selector);
  long now_sec, now_usec;
  OVKCurrentTime(&now_sec, &now_usec);
  OVKWebSession *s = table.NewSession();
  long lifetime = OVKWebSessionCollection::SessionLifetime();
  EXPECT_EQ(15, lifetime);
  EXPECT_GE(s->ExpirySec(), now_sec + lifetime);
  EXPECT_LE(s->ExpirySec(), now_sec + lifetime + 1);

  // Renewal re-registers the timer from now.
  s->SetExpiry(now_sec - 100, 0);
  s->Renew();
  EXPECT_GE(s->ExpirySec(), now_sec + lifetime);

  std::string key = s->Key().Str();
  s->TimeoutHandle();  // what the selector does after 15 idle seconds
  EXPECT_EQ(0, table.alive);
  EXPECT_EQ(nullptr, table.FindSession(key));
  EXPECT_EQ(0, table.HighWater());
}

TEST(WebSessionCollection, AtTheBoundTheSessionNearestItsEndGoes) {
  OVKEventSelector selector;
  Table table(&selector);
  const int bound = OVKWebSessionCollection::kMaxLiveSessions;
  long now_sec, now_usec;
  OVKCurrentTime(&now_sec, &now_usec);
  std::vector<OVKWebSession *> sessions;
  for (int i = 0; i < bound; i++) {
    sessions.push_back(table.NewSession());
    sessions.back()->SetExpiry(now_sec + i % 10,
                               i);  // the first made ends first
  }
  sessions[0]->SetExpiry(now_sec + 1000, 0);  // renewed: the last to end
  std::string second = sessions[1]->Key().Str();
  std::string first = sessions[0]->Key().Str();

  for (int round = 0; round < 3 * bound; round++) table.NewSession();
  EXPECT_EQ(bound, table.LiveSessions());
  EXPECT_EQ(bound, table.alive);
  EXPECT_EQ(bound, table.Capacity());  // the table stops growing too
  EXPECT_EQ(nullptr, table.FindSession(second));
  EXPECT_EQ(sessions[0], table.FindSession(first));
}

TEST(WebSessionCollection, DestructionDestroysLiveSessions) {
  OVKEventSelector selector;
  int alive = 0;
  {
    Table table(&selector, &alive);
    table.NewSession();
    delete table.NewSession();
    table.NewSession();
    EXPECT_EQ(2, alive);
    EXPECT_EQ(2, table.LiveSessions());
  }
  EXPECT_EQ(0, alive);
}

}  // namespace
