#include "config/state_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "config/configuration.h"
#include "core/test_log.h"

namespace {

class StateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.Dir().Write("h.ini",
                     "[variable target]\nenable = yes\ndefault = 20\n"
                     "[variable note]\nenable = yes\n"
                     "[variable off]\nenable = no\n");
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("h.ini")));
  }
  void TearDown() override {
    ResetStateFile();
    ResetConfiguration();
  }
  std::string Path() { return log_.Dir().File("h.state"); }
  TestLog log_;
};

}  // namespace

TEST_F(StateFileTest, MissingFileWarnsAndIsCreatedOnFirstSave) {
  OpenStateFile(Path());
  EXPECT_TRUE(log_.Contains(Path() + ":-1: warning: reading state file problem: couldn't open the file"));
  EXPECT_TRUE(LoadStates().IsAbsent());
  EXPECT_EQ(LoadOutput("pump"), 0);
  SaveStates("security.armed heat.eco");
  SaveOutput("pump", true);
  SaveWatermark("boiler", 1, "high");
  EXPECT_EQ(log_.Dir().Read("h.state"),
            "[State ]\n\nalert = security.armed heat.eco\n\n\n"
            "[Outputs ]\n\npump = on\n\n\n"
            "[TempSensor boiler]\n\nwmark_1 = high\n\n\n");
  OpenStateFile(Path());
  EXPECT_EQ(LoadStates(), "security.armed heat.eco");
  EXPECT_EQ(LoadOutput("pump"), 1);
  EXPECT_EQ(LoadWatermark("boiler", 1), "high");
  EXPECT_EQ(LoadWatermark("boiler", 2), "undef");
  EXPECT_EQ(LoadWatermark("other", 1), "undef");
}

TEST_F(StateFileTest, RelativePathIsMadeAbsoluteOnce) {
  char cwd[1024];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(log_.Dir().Path().c_str()), 0);
  OpenStateFile("rel.state");
  ASSERT_EQ(chdir("/"), 0);
  SaveStates("idle");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(StateFilePath(), log_.Dir().File("rel.state"));
  EXPECT_NE(log_.Dir().Read("rel.state").find("alert = idle"), std::string::npos);
}

TEST_F(StateFileTest, OutputValues) {
  log_.Dir().Write("h.state", "[Outputs]\na = ON\nb =  on \nc = 1\nd =\n");
  OpenStateFile(Path());
  EXPECT_EQ(LoadOutput("a"), 1);
  EXPECT_EQ(LoadOutput("b"), 1);
  EXPECT_EQ(LoadOutput("c"), 2);
  EXPECT_EQ(LoadOutput("d"), 0);
  EXPECT_EQ(LoadOutput("e"), 0);
  SaveOutput("a", false);
  EXPECT_EQ(LoadOutput("a"), 2);
}

TEST_F(StateFileTest, VariablesNeedEnable) {
  EXPECT_FALSE(SetVariable("target", "21"));  // not opened yet
  OpenStateFile(Path());
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

TEST_F(StateFileTest, OnlyLeftoversOfInterruptedSavesAreRemoved) {
  log_.Dir().Write("h.state", "[State]\nalert = idle\n");
  log_.Dir().Write(".h.state.saving-a1B2c3", "[State]\nalert = half");
  // The operator's own files, whatever their names look like.
  for (const char *name : {"h.state.backup", "h.state.before", "h.state.a1B2c3",
                           ".h.state.saving-a1B2c3d", ".h.state.saving-a1B2c"})
    log_.Dir().Write(name, "not ours");
  OpenStateFile(Path());
  EXPECT_EQ(LoadStates(), "idle");
  EXPECT_EQ(log_.Lines(),
            std::vector<std::string>{"Removed ``" + log_.Dir().File(".h.state.saving-a1B2c3") +
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
  std::string line = "Cannot save the state file ``" + path + "'': No such file or directory";
  SaveStates("a");
  SaveOutput("pump", true);
  EXPECT_EQ(log_.Lines(), std::vector<std::string>{line});
  // Saved again: everything kept in memory reaches the file.
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  SaveStates("b");
  EXPECT_EQ(log_.Dir().Read("gone/h.state"),
            "[State ]\n\nalert = b\n\n\n[Outputs ]\n\npump = on\n\n\n");
  // A new run of failures is told again.
  ASSERT_EQ(std::system(("rm -r '" + dir + "'").c_str()), 0);
  SaveStates("c");
  SaveStates("d");
  EXPECT_EQ(log_.Lines(), (std::vector<std::string>{line, line}));
}

TEST_F(StateFileTest, ValuesTooLongToReadBackAreRefused) {
  OpenStateFile(Path());
  SaveWatermark("boiler", 1, "high");
  std::string fits(1023 - strlen("target = \n"), 'x');
  EXPECT_TRUE(SetVariable("target", fits));
  EXPECT_FALSE(SetVariable("target", fits + "x"));
  EXPECT_TRUE(log_.Contains("Value of ``target'' too long for the state file (1014 bytes), not stored"));
  // The file still reads back whole at the next start.
  OpenStateFile(Path());
  EXPECT_EQ(GetVariable("target"), fits);
  EXPECT_EQ(LoadWatermark("boiler", 1), "high");
}

TEST_F(StateFileTest, EmptyAlertCountsAsMissing) {
  log_.Dir().Write("h.state", "[State]\nalert =\n");
  OpenStateFile(Path());
  EXPECT_TRUE(LoadStates().IsAbsent());
}
