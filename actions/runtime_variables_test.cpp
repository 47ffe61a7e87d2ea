#include "actions/runtime_variables.h"

#include <gtest/gtest.h>

#include "config/configuration.h"
#include "config/state_file.h"
#include "core/log_test_support.h"
#include "core/process_state.h"

namespace {

class RuntimeVariablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.Dir().Write("h.ini",
                     "[variable target]\nenable = yes\ndefault = 20\n"
                     "[variable note]\nenable = yes\n"
                     "[variable off]\nenable = no\n");
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("h.ini")));
  }
  void TearDown() override { ResetProcessState(); }
  TestLog log_;
};

TEST_F(RuntimeVariablesTest, OnlyEnabledVariablesAreStored) {
  EXPECT_FALSE(SetVariable("target", "21"));  // not opened yet
  OpenStateFile(log_.Dir().File("h.state"));
  EXPECT_EQ(GetVariable("target"), "20");
  EXPECT_EQ(GetVariable("note"), "");
  EXPECT_TRUE(GetVariable("off").IsAbsent());
  EXPECT_TRUE(GetVariable("unknown").IsAbsent());
  EXPECT_TRUE(SetVariable("target", "21"));
  EXPECT_EQ(GetVariable("target"), "21");
  EXPECT_FALSE(SetVariable("off", "1"));
  EXPECT_EQ(log_.Dir().Read("h.state").find("off"), std::string::npos);
  // An empty stored value reads as missing.
  EXPECT_TRUE(SetVariable("target", ""));
  EXPECT_EQ(GetVariable("target"), "20");
}

}  // namespace
