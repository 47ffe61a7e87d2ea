#include "config/state_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "core/log_test_support.h"
#include "core/process_state.h"

namespace {

class StateFileTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetProcessState(); }
  std::string Path() { return log_.Dir().File("h.state"); }
  static ScriptVariable Alert() { return FetchStateValue("State", nullptr, "alert"); }
  TestLog log_;
};

}  // namespace

TEST_F(StateFileTest, MissingFileWarnsAndIsCreatedOnFirstSave) {
  EXPECT_FALSE(StoreStateValue("State", nullptr, "alert", "idle"));  // not opened
  OpenStateFile(Path());
  EXPECT_TRUE(log_.Contains(Path() + ":-1: warning: reading state file problem: couldn't open the file"));
  EXPECT_TRUE(Alert().IsAbsent());
  EXPECT_TRUE(StoreStateValue("State", nullptr, "alert", "security.armed heat.eco"));
  EXPECT_TRUE(StoreStateValue("Outputs", nullptr, "pump", "on"));
  EXPECT_TRUE(StoreStateValue("TempSensor", "boiler", "wmark_1", "high"));
  EXPECT_EQ(log_.Dir().Read("h.state"),
            "[State ]\n\nalert = security.armed heat.eco\n\n\n"
            "[Outputs ]\n\npump = on\n\n\n"
            "[TempSensor boiler]\n\nwmark_1 = high\n\n\n");
  OpenStateFile(Path());
  EXPECT_EQ(Alert(), "security.armed heat.eco");
  EXPECT_EQ(FetchStateValue("Outputs", nullptr, "pump"), "on");
  EXPECT_EQ(FetchStateValue("TempSensor", "boiler", "wmark_1"), "high");
  EXPECT_TRUE(FetchStateValue("TempSensor", "boiler", "wmark_2").IsAbsent());
  EXPECT_TRUE(FetchStateValue("TempSensor", "other", "wmark_1").IsAbsent());
}

TEST_F(StateFileTest, RelativePathIsMadeAbsoluteOnce) {
  char cwd[1024];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(log_.Dir().Path().c_str()), 0);
  OpenStateFile("rel.state");
  ASSERT_EQ(chdir("/"), 0);
  StoreStateValue("State", nullptr, "alert", "idle");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(StateFilePath(), log_.Dir().File("rel.state"));
  EXPECT_NE(log_.Dir().Read("rel.state").find("alert = idle"), std::string::npos);
}

TEST_F(StateFileTest, LeftoversOfInterruptedSavesAreRemoved) {
  log_.Dir().Write("h.state", "[State]\nalert = idle\n");
  log_.Dir().Write("h.state.a1B2c3", "[State]\nalert = half");
  log_.Dir().Write("h.state.keep", "not ours");
  log_.Dir().Write("h.state.a1B2c3d", "not ours either");
  OpenStateFile(Path());
  EXPECT_EQ(Alert(), "idle");
  EXPECT_TRUE(log_.Contains("Removed ``" + Path() + ".a1B2c3'', left behind by an interrupted save"));
  EXPECT_NE(0, access(log_.Dir().File("h.state.a1B2c3").c_str(), F_OK));
  EXPECT_EQ(log_.Dir().Read("h.state.keep"), "not ours");
  EXPECT_EQ(log_.Dir().Read("h.state.a1B2c3d"), "not ours either");
}

TEST_F(StateFileTest, ValuesTooLongToReadBackAreRefused) {
  OpenStateFile(Path());
  StoreStateValue("TempSensor", "boiler", "wmark_1", "high");
  std::string fits(1023 - strlen("target = \n"), 'x');
  EXPECT_TRUE(StoreStateValue("Variables", nullptr, "target", fits));
  EXPECT_FALSE(StoreStateValue("Variables", nullptr, "target", fits + "x"));
  EXPECT_TRUE(log_.Contains("Value of ``target'' too long for the state file (1014 bytes), not stored"));
  // The file still reads back whole at the next start.
  OpenStateFile(Path());
  EXPECT_EQ(FetchStateValue("Variables", nullptr, "target"), fits);
  EXPECT_EQ(FetchStateValue("TempSensor", "boiler", "wmark_1"), "high");
}

TEST_F(StateFileTest, EmptyValueCountsAsMissing) {
  log_.Dir().Write("h.state", "[State]\nalert =\n");
  OpenStateFile(Path());
  EXPECT_TRUE(Alert().IsAbsent());
  StoreStateValue("State", nullptr, "alert", "");
  EXPECT_TRUE(Alert().IsAbsent());
}
