#include "devices/saved_outputs.h"

#include <gtest/gtest.h>

#include "config/state_file.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "devices/board_output.h"

namespace {

class SavedOutputsTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetProcessState(); }
  TestLog log_;
};

TEST_F(SavedOutputsTest, OnlyOnIsOnAndEmptyIsMissing) {
  EXPECT_EQ(LoadOutput("a"), 0);  // not opened
  log_.Dir().Write("h.state", "[Outputs]\na = ON\nb =  on \nc = 1\nd =\n");
  OpenStateFile(log_.Dir().File("h.state"));
  EXPECT_EQ(LoadOutput("a"), kBoardOutputOn);
  EXPECT_EQ(LoadOutput("b"), kBoardOutputOn);
  EXPECT_EQ(LoadOutput("c"), kBoardOutputOff);
  EXPECT_EQ(LoadOutput("d"), 0);
  EXPECT_EQ(LoadOutput("e"), 0);
  SaveOutput("a", false);
  EXPECT_EQ(LoadOutput("a"), kBoardOutputOff);
  EXPECT_NE(log_.Dir().Read("h.state").find("a = off"), std::string::npos);
}

}  // namespace
