#include <gtest/gtest.h>

#include "actions/actions.h"
#include "devices/boards_test_support.h"

namespace {

class LineActionsTest : public BoardsTest {};

TEST_F(LineActionsTest, SwitchesTheNamedOutputByTheFourthCharacter) {
  Add("a", "1:2:1a2b");
  Configure("[device 1a2b]\noutput:0 = siren\noutput:2 = pump\n");
  devices_configure();
  EXPECT_TRUE(DoAction("@ln+ pump"));
  EXPECT_EQ(Get("a").outputs, 4u);
  EXPECT_TRUE(DoAction(" @LN+  siren ignored words"));
  EXPECT_EQ(Get("a").outputs, 5u);
  EXPECT_TRUE(DoAction("@LN- pump"));
  EXPECT_EQ(Get("a").outputs, 1u);
  EXPECT_FALSE(DoAction("@LN+ nosuch"));
  EXPECT_FALSE(DoAction("@LN+"));
  EXPECT_EQ(Get("a").outputs, 1u);
}

TEST_F(LineActionsTest, UnavailableBoardFails) {
  Configure("[device 1a2b]\noutput:0 = siren\n");
  devices_configure();
  EXPECT_FALSE(DoAction("@LN+ siren"));
}

}  // namespace
