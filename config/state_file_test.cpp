#include "config/state_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/log_test_support.h"
#include "core/process_state.h"

namespace {

class StateFileTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetProcessState(); }
  std::string Path() { return log_.Dir().File("h.state"); }
  static ScriptVariable Alert() {
    return FetchStateValue("State", nullptr, "alert");
  }
  TestLog log_;
};

}  // namespace

TEST_F(StateFileTest, MissingFileWarnsAndIsCreatedOnFirstSave) {
  EXPECT_FALSE(
      StoreStateValue("State", nullptr, "alert", "idle"));  // not opened
  OpenStateFile(Path());
  EXPECT_TRUE(log_.Contains(
      Path() +
      ":-1: warning: reading state file problem: couldn't open the file"));
  EXPECT_TRUE(Alert().IsAbsent());
  EXPECT_TRUE(
      StoreStateValue("State", nullptr, "alert", "security.armed heat.eco"));
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
  EXPECT_NE(log_.Dir().Read("rel.state").find("alert = idle"),
            std::string::npos);
}

TEST_F(StateFileTest, OnlyLeftoversOfInterruptedSavesAreRemoved) {
  log_.Dir().Write("h.state", "[State]\nalert = idle\n");
  log_.Dir().Write(".h.state.saving-a1B2c3", "[State]\nalert = half");
  // The operator's own files, whatever their names look like.
  for (const char *name : {"h.state.backup", "h.state.before", "h.state.a1B2c3",
                           ".h.state.saving-a1B2c3d", ".h.state.saving-a1B2c"})
    log_.Dir().Write(name, "not ours");
  OpenStateFile(Path());
  EXPECT_EQ(Alert(), "idle");
  EXPECT_EQ(log_.Lines(),
            std::vector<std::string>{"Removed ``" +
                                     log_.Dir().File(".h.state.saving-a1B2c3") +
                                     "'', left behind by an interrupted save"});
  EXPECT_NE(0, access(log_.Dir().File(".h.state.saving-a1B2c3").c_str(), F_OK));
  for (const char *name : {"h.state.backup", "h.state.before", "h.state.a1B2c3",
                           ".h.state.saving-a1B2c3d", ".h.state.saving-a1B2c"})
    EXPECT_EQ(log_.Dir().Read(name), "not ours") << name;
}

TEST_F(StateFileTest, FailedSavesAreLoggedOncePerRun) {
  std::string dir = log_.Dir().File("gone");
  std::string path = dir + "/h.state";
  OpenStateFile(path);
  log_.Clear();
  std::string line =
      "Cannot save the state file ``" + path + "'': No such file or directory";
  StoreStateValue("State", nullptr, "alert", "a");
  StoreStateValue("Outputs", nullptr, "pump", "on");
  EXPECT_EQ(log_.Lines(), std::vector<std::string>{line});
  // Saved again: everything kept in memory reaches the file.
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  StoreStateValue("State", nullptr, "alert", "b");
  EXPECT_EQ(log_.Dir().Read("gone/h.state"),
            "[State ]\n\nalert = b\n\n\n[Outputs ]\n\npump = on\n\n\n");
  // A new run of failures is told again.
  ASSERT_EQ(std::system(("rm -r '" + dir + "'").c_str()), 0);
  StoreStateValue("State", nullptr, "alert", "c");
  StoreStateValue("State", nullptr, "alert", "d");
  EXPECT_EQ(log_.Lines(), (std::vector<std::string>{line, line}));
}

TEST_F(StateFileTest, ValuesTooLongToReadBackAreRefused) {
  OpenStateFile(Path());
  StoreStateValue("TempSensor", "boiler", "wmark_1", "high");
  std::string fits(1023 - strlen("target = \n"), 'x');
  EXPECT_TRUE(StoreStateValue("Variables", nullptr, "target", fits));
  EXPECT_FALSE(StoreStateValue("Variables", nullptr, "target", fits + "x"));
  EXPECT_TRUE(
      log_.Contains("Value of ``target'' too long for the state file (1014 "
                    "bytes), not stored"));
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
