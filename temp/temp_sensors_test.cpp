#include "temp/temp_sensors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/state_file.h"
#include "core/event_sink.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "subst/substitution.h"
#include "temp/saved_watermarks.h"

typedef std::vector<std::string> Lines;

static const unsigned char kBoiler[8] = {0x28, 0x58, 0x2C, 0x1F,
                                         0x00, 0x00, 0x00, 0xB6};
static const unsigned char kOutside[8] = {1, 0, 0, 0, 0, 0, 0, 0};
static const char kBoilerSection[] =
    "[temp_sensor boiler]\n"
    "id = B60000001F2C5828\n";
static const char kOutsideSection[] =
    "[temp_sensor outside]\n"
    "id = 0000000000000001\n";

static Lines &Events() {
  static Lines events;
  return events;
}

static void CaptureEvent(const ScriptVariable &line) {
  Events().push_back(line.Str());
}

class TempSensorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    Events().clear();
    SetEventSink(&CaptureEvent);
  }
  void TearDown() override { ResetProcessState(); }

  // Loads the configuration and (when given) the state file, then
  // configures the sensors; the log then holds only what configuring said.
  void Configure(const std::string &conf, const std::string &state = "") {
    log_.Dir().Write("hovantra.ini", conf);
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("hovantra.ini")));
    if (!state.empty()) log_.Dir().Write("hovantra.state", state);
    OpenStateFile(log_.Dir().File("hovantra.state"));
    log_.Clear();
    temp_sensors_configure();
  }
  // Configures one boiler watermark line restored to zone, starts the
  // sensors and forgets the log.
  void StartBoiler(const std::string &line, const std::string &zone) {
    std::string state;
    if (!zone.empty())
      state = "[TempSensor boiler]\n\nwmark_1 = " + zone + "\n";
    Configure(std::string(kBoilerSection) + "watermarks = " + line + "\n",
              state);
    temp_sensors_start();
    log_.Clear();
  }
  void Feed(const unsigned char *rom, int degrees) {
    temp_reading(2, rom, static_cast<int16_t>(degrees * 16));
  }
  void Feed(int degrees) { Feed(kBoiler, degrees); }

  TestLog log_;
};

TEST_F(TempSensorsTest, ConfigurationLogsSkipsAndKeepsReverseOrder) {
  MainSubstitution().AddVariable(new ScriptSubstitutionConst("limit", "20"));
  Configure(
      "[temp_sensor first]\n"
      "id = 0000000000000001\n"
      "watermarks = 10:20:a:b\n"
      "+\n"
      "+1:2:c:d:5:e\n"
      "+bad\n"
      "+3:4:e:f:x\n"
      "[temp_sensor ]\n"
      "id = 0000000000000002\n"
      "[temp_sensor noid]\n"
      "report = yes\n"
      "[temp_sensor shortid]\n"
      "id = 12345\n"
      "[temp_sensor badid]\n"
      "id = 12345678901234zz\n"
      "[temp_sensor second]\n"
      "id = b60000001f2c5828 (boiler room)\n"
      "watermarks = 18:%limit%:x:y:1:p:q\n");
  Lines expected = {
      "Total 6 temp. sensor entries found",
      "No delay: ``10:20:a:b'', defaulting to 2",
      "Invalid watermark: ``bad'', ignoring",
      "Invalid delay: ``3:4:e:f:x'', ignoring",
      "Temp. sensor: first",
      "  +watermark: 1:2:c:d:5:e:",
      "  +watermark: 10:20:a:b:2::",
      "watermark first:1:2 will start in undef state",
      "watermark first:10:20 will start in undef state",
      "No id for temp. sensor ``noid'' in conf. file",
      "Too short temp. sensor id ``12345'' in conf. file",
      "Illegal temp. sensor id ``12345678901234zz'' in conf. file",
      "Temp. sensor: second",
      "  +watermark: 18:20:x:y:1:p:q",
      "watermark second:18:20 will start in undef state",
  };
  EXPECT_EQ(log_.Lines(), expected);

  // Lookups and the report go newest first; unread sensors are left out.
  EXPECT_EQ(temp_report_text(), "");
  Feed(kOutside, -1);
  EXPECT_EQ(temp_report_text(), "first:-1");
  Feed(kBoiler, 25);
  EXPECT_EQ(temp_report_text(), "second:25 first:-1");
}

TEST_F(TempSensorsTest, RawValuesAndSentinels) {
  Configure(std::string(kBoilerSection) + kOutsideSection);
  log_.Clear();
  temp_reading(1, kBoiler, 0x0191);
  temp_reading(1, kOutside, -8);
  EXPECT_EQ(temp_of("boiler"), 25);
  EXPECT_EQ(temp_of("outside"), -1);
  temp_reading(1, kBoiler, static_cast<int16_t>(0x8000));
  temp_reading(1, kBoiler, 0x7FFF);
  const unsigned char stranger[8] = {0x28, 0x58, 0x2C, 0x1F, 0, 0, 0, 0xB7};
  temp_reading(1, stranger, 0x0100);
  EXPECT_EQ(temp_of("boiler"), 25);
  EXPECT_EQ(temp_of("nosuch"), -1000);
  Lines expected = {
      "XXX (boiler) last_temp = -1000, new_temp = 25",
      "XXX (outside) last_temp = -1000, new_temp = -1",
      "Temp. sensor nosuch not found, please check config",
  };
  EXPECT_EQ(log_.Lines(), expected);
}

TEST_F(TempSensorsTest, NonsenseFilter) {
  Configure(std::string(kBoilerSection) + kOutsideSection);
  Feed(20);
  log_.Clear();
  Feed(31);
  Feed(9);
  EXPECT_EQ(temp_of("boiler"), 20);
  Feed(30);
  Feed(20);
  Feed(20);
  Lines expected = {
      "XXX (boiler) last_temp = 20, new_temp = 31 NONSENSE IGNORED",
      "XXX (boiler) last_temp = 20, new_temp = 9 NONSENSE IGNORED",
      "XXX (boiler) last_temp = 20, new_temp = 30",
      "XXX (boiler) last_temp = 30, new_temp = 20",
  };
  EXPECT_EQ(log_.Lines(), expected);

  // Limits of the plausible range, on fresh sensors.
  temp_sensors_configure();
  log_.Clear();
  Feed(81);
  Feed(-61);
  EXPECT_EQ(temp_of("boiler"), -1000);
  Feed(-60);
  Feed(kOutside, 80);
  expected = {
      "XXX (boiler) last_temp = -1000, new_temp = 81 NONSENSE IGNORED",
      "XXX (boiler) last_temp = -1000, new_temp = -61 NONSENSE IGNORED",
      "XXX (boiler) last_temp = -1000, new_temp = -60",
      "XXX (outside) last_temp = -1000, new_temp = 80",
  };
  EXPECT_EQ(log_.Lines(), expected);
}

TEST_F(TempSensorsTest, CommitsHighOnTheThirdReading) {
  StartBoiler("18:20:cold:warm", "low");
  Feed(18);
  log_.Clear();
  Feed(21);
  Feed(21);
  EXPECT_TRUE(Events().empty());
  Feed(21);
  Lines expected = {
      "XXX (boiler) last_temp = 18, new_temp = 21",
      "XXX (boiler) watermark 18/20 transit (low->high)[cnt=1(2)]",
      "XXX (boiler) watermark 18/20 transit (low->high)[cnt=2(2)]",
      "XXX (boiler) watermark 18/20 transit (low->high)[cnt=3(2)]",
      "Temp. watermark 18/20: t=21 (high), doing [warm]",
      "XXX (boiler) watermark [1] is now high",
  };
  EXPECT_EQ(log_.Lines(), expected);
  EXPECT_EQ(Events(), Lines{"warm"});
  EXPECT_EQ(LoadWatermark("boiler", 1), "high");
  EXPECT_NE(log_.Dir().Read("hovantra.state").find("wmark_1 = high"),
            std::string::npos);
  // Committed: more high readings change nothing.
  log_.Clear();
  Feed(22);
  EXPECT_EQ(log_.Lines(), Lines{"XXX (boiler) last_temp = 21, new_temp = 22"});
  EXPECT_EQ(Events().size(), 1u);
}

TEST_F(TempSensorsTest, MiddleReadingsNeitherAdvanceNorCancel) {
  StartBoiler("18:20:cold:warm", "low");
  Feed(18);
  log_.Clear();
  Feed(21);
  Feed(19);
  Feed(21);
  Feed(21);
  Lines expected = {
      "XXX (boiler) last_temp = 18, new_temp = 21",
      "XXX (boiler) watermark 18/20 transit (low->high)[cnt=1(2)]",
      "XXX (boiler) last_temp = 21, new_temp = 19",
      "XXX (boiler 18:20) temperature ARTIFACT (1) detected!",
      "XXX (boiler) last_temp = 19, new_temp = 21",
      "XXX (boiler) watermark 18/20 transit (low->high)[cnt=2(2)]",
      "XXX (boiler) watermark 18/20 transit (low->high)[cnt=3(2)]",
      "Temp. watermark 18/20: t=21 (high), doing [warm]",
      "XXX (boiler) watermark [1] is now high",
  };
  EXPECT_EQ(log_.Lines(), expected);
  EXPECT_EQ(Events(), Lines{"warm"});
}

TEST_F(TempSensorsTest, ReturnToCommittedZoneCancels) {
  StartBoiler("18:20:cold:warm", "low");
  Feed(18);
  Feed(21);
  log_.Clear();
  Feed(17);
  Lines expected = {
      "XXX (boiler) last_temp = 21, new_temp = 17",
      "XXX (boiler 18:20) temperature ARTIFACT (1) detected!",
  };
  EXPECT_EQ(log_.Lines(), expected);
  // The run starts over.
  Feed(21);
  Feed(21);
  EXPECT_TRUE(Events().empty());
  Feed(21);
  EXPECT_EQ(Events(), Lines{"warm"});
}

TEST_F(TempSensorsTest, UndefinedCommitsToMiddleSilently) {
  StartBoiler("18:20:cold:warm", "");
  Feed(19);
  Feed(19);
  Feed(19);
  Lines expected = {
      "XXX (boiler) last_temp = -1000, new_temp = 19",
      "XXX (boiler) watermark 18/20 transit (undef->middle)[cnt=1(2)]",
      "XXX (boiler) watermark 18/20 transit (undef->middle)[cnt=2(2)]",
      "XXX (boiler) watermark 18/20 transit (undef->middle)[cnt=3(2)]",
      "XXX (boiler) watermark [1] is now middle",
  };
  EXPECT_EQ(log_.Lines(), expected);
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(LoadWatermark("boiler", 1), "middle");
}

TEST_F(TempSensorsTest, FirstCommitRaisesOnlyNonEmptyStartTexts) {
  Configure(std::string(kBoilerSection) +
            "watermarks = 10:15:a:b:1::\n"
            "+18:20:c:d:1:sl:sh\n");
  temp_sensors_start();
  log_.Clear();
  Feed(17);
  Feed(17);
  // 17 is high for 10:15 (empty start-high) and low for 18:20.
  EXPECT_EQ(Events(), Lines{"sl"});
  EXPECT_TRUE(log_.Contains("Temp. watermark 18/20: t=17 (low), doing [sl]"));
  EXPECT_EQ(LoadWatermark("boiler", 1), "high");
  EXPECT_EQ(LoadWatermark("boiler", 2), "low");
  // Once committed, the on texts apply.
  Events().clear();
  Feed(21);
  Feed(21);
  EXPECT_EQ(Events(), Lines{"d"});
}

TEST_F(TempSensorsTest, RaisedTextsSeeTheDictionary) {
  Configure(
      std::string(kBoilerSection) +
          "watermarks = 18:20:cold:%%name%% %%id%% %%last_t%% %%t%% %%1%%\n"
          "+18:20:cold:\n",
      "[TempSensor boiler]\n\nwmark_1 = low\nwmark_2 = low\n");
  temp_sensors_start();
  Feed(18);
  Feed(21);
  Feed(21);
  log_.Clear();
  Feed(21);
  // An empty text is raised all the same.
  EXPECT_EQ(Events(), (Lines{"", "boiler 13114482115425884200 21 21 "}));
  EXPECT_TRUE(log_.Contains("Temp. watermark 18/20: t=21 (high), doing []"));
}

TEST_F(TempSensorsTest, RestartRestoresZonesAndRaisesStartOnce) {
  Configure(std::string(kBoilerSection) +
                "watermarks = 18:20:cold:warm:2:sl:"
                "up %%name%% %%last_t%% %%t%%\n",
            "[TempSensor boiler]\n\nwmark_1 = HIGH\n");
  EXPECT_TRUE(log_.Contains("watermark boiler:18:20 will start in high state"));
  log_.Clear();
  temp_sensors_start();
  EXPECT_EQ(log_.Lines(),
            Lines{"Temp. watermark 18/20: t=-1000 (unknown), doing "
                  "[up boiler -1000 -1000]"});
  EXPECT_EQ(Events(), Lines{"up boiler -1000 -1000"});
  temp_sensors_start();
  EXPECT_EQ(Events().size(), 1u);

  // Resumed in high: high readings are quiet, middle ones hold, low commits.
  Events().clear();
  Feed(21);
  Feed(19);
  Feed(18);
  Feed(18);
  EXPECT_TRUE(Events().empty());
  Feed(18);
  EXPECT_EQ(Events(), Lines{"cold"});
  EXPECT_EQ(LoadWatermark("boiler", 1), "low");
}

TEST_F(TempSensorsTest, IndexCountsEveryLineAfterALeadingEmptyOne) {
  Configure(std::string(kBoilerSection) +
                "watermarks =\n"
                "+18:20:a:b:1\n"
                "+\n"
                "+bad\n"
                "+10:30:c:d:1\n",
            "[TempSensor boiler]\n\nwmark_1 = low\nwmark_4 = Middle\n"
            "wmark_2 = high\n");
  EXPECT_TRUE(
      log_.Contains("watermark boiler:10:30 will start in middle state"));
  EXPECT_TRUE(log_.Contains("watermark boiler:18:20 will start in low state"));
  temp_sensors_start();
  EXPECT_TRUE(Events().empty());
  Feed(30);
  Feed(30);
  EXPECT_EQ(Events(), (Lines{"d", "b"}));
  EXPECT_EQ(LoadWatermark("boiler", 4), "high");
  EXPECT_EQ(LoadWatermark("boiler", 1), "high");
}

TEST_F(TempSensorsTest, UnknownStoredZoneStaysUndefined) {
  Configure(std::string(kBoilerSection) + "watermarks = 18:20:a:b:0:sl:sh\n",
            "[TempSensor boiler]\n\nwmark_1 = warmish\n");
  EXPECT_EQ(log_.Lines(),
            (Lines{"Total 1 temp. sensor entries found", "Temp. sensor: boiler",
                   "  +watermark: 18:20:a:b:0:sl:sh"}));
  temp_sensors_start();
  EXPECT_TRUE(Events().empty());
  Feed(10);
  EXPECT_EQ(Events(), Lines{"sl"});
}
