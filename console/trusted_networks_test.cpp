#include "console/trusted_networks.h"

#include <gtest/gtest.h>

namespace {

const uint32_t kLocal = 0x7f000001;      // 127.0.0.1
const uint32_t kTenOneTwo = 0x0a010203;  // 10.1.2.3
const uint32_t kElevenOne = 0x0b000001;  // 11.0.0.1

TEST(TrustedNetworksTest, HostsAndNetworks) {
  TrustedNetworkList list("127.0.0.1, 10.0.0.0/8");
  ASSERT_EQ(2u, list.Networks().size());
  EXPECT_TRUE(list.Contains(kLocal));
  EXPECT_TRUE(list.Contains(kTenOneTwo));
  EXPECT_FALSE(list.Contains(kElevenOne));
  EXPECT_FALSE(list.Contains(0x7f000002));
  EXPECT_EQ(32, list.Networks()[0].prefix);
}

TEST(TrustedNetworksTest, EmptyListTrustsNobody) {
  EXPECT_FALSE(TrustedNetworkList("").Contains(kLocal));
  EXPECT_FALSE(TrustedNetworkList(nullptr).Contains(kLocal));
  EXPECT_FALSE(TrustedNetworkList("   ").Contains(0));
}

TEST(TrustedNetworksTest, BadPrefixMakesAnItemThatContainsNothing) {
  TrustedNetworkList too_long("10.0.0.0/33");
  ASSERT_EQ(1u, too_long.Networks().size());
  EXPECT_FALSE(too_long.Networks()[0].valid);
  EXPECT_FALSE(too_long.Contains(kTenOneTwo));
  // An empty prefix is bad too, but the items after it still count.
  TrustedNetworkList empty_prefix("10.0.0.0/, 127.0.0.1");
  EXPECT_FALSE(empty_prefix.Contains(kTenOneTwo));
  EXPECT_TRUE(empty_prefix.Contains(kLocal));
  // Digits far beyond the range must not wrap around into a valid one.
  EXPECT_FALSE(TrustedNetworkList("10.0.0.0/4294967304").Contains(kTenOneTwo));
}

TEST(TrustedNetworksTest, PrefixZeroTrustsEverybodyAndHostBitsAreCleared) {
  TrustedNetworkList all("0.0.0.0/0");
  EXPECT_TRUE(all.Contains(kLocal));
  EXPECT_TRUE(all.Contains(0xffffffffu));
  TrustedNetworkList sloppy("10.9.9.9/8");
  EXPECT_EQ(0x0a000000u, sloppy.Networks()[0].address);
  EXPECT_TRUE(sloppy.Contains(kTenOneTwo));
  TrustedNetworkList narrow("192.168.1.128/25");
  EXPECT_TRUE(narrow.Contains(0xc0a801ffu));
  EXPECT_FALSE(narrow.Contains(0xc0a8017fu));
}

TEST(TrustedNetworksTest, ParsingStopsAtTheFirstMisfit) {
  // A word after an item ends the list; the completed item stays.
  TrustedNetworkList word("10.0.0.1 x, 10.0.0.2");
  EXPECT_TRUE(word.Contains(0x0a000001));
  EXPECT_FALSE(word.Contains(0x0a000002));
  // Fewer than four groups: nothing from there on.
  TrustedNetworkList short_quad("127.0.0.1,10.0.1, 10.0.0.2");
  EXPECT_EQ(1u, short_quad.Networks().size());
  // Blanks before items and before commas are fine, a trailing comma too.
  TrustedNetworkList spaced(" \t10.0.0.1 ,\n 10.0.0.2\t, ");
  EXPECT_TRUE(spaced.Contains(0x0a000001));
  EXPECT_TRUE(spaced.Contains(0x0a000002));
  // The item ends at the first character that is neither digit nor slash.
  TrustedNetworkList tail("10.0.0.1.5, 10.0.0.2");
  ASSERT_EQ(1u, tail.Networks().size());
  EXPECT_TRUE(tail.Contains(0x0a000001));
}

}  // namespace
