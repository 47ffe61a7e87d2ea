#include "daemon/system_variables.h"

#include <cstdlib>
#include <string>

#include "actions/runtime_variables.h"
#include "config/configuration.h"
#include "core/env_test_support.h"
#include "devices/boards_test_support.h"
#include "devices/device_poller.h"
#include "devices/devices.h"
#include "devices/usb/sim_board.h"
#include "fsm/fsm_test_support.h"
#include "fsm/set_state.h"
#include "fsm/states.h"
#include "subst/substitution.h"
#include "temp/temp_sensors.h"

namespace {

// The state machine fixture with the main engine holding the system
// variables, as start-up leaves it.
class SystemVariablesTest : public FsmTest {
 protected:
  SystemVariablesTest() { RegisterSystemVariables(MainSubstitution()); }
};

std::string Expand(const char *text) {
  return MainSubstitution().Process(text).Str();
}

TEST_F(SystemVariablesTest, DateFormat) {
  {
    ScopedEnv tz("TZ", "UTC");
    tzset();
    // 2026-03-07 09:05:59 UTC
    EXPECT_EQ(DateReportText(1772874359), "20260307 09:05");
    EXPECT_EQ(DateReportText(0), "19700101 00:00");
  }
  tzset();
  // The minute may turn between the two readings of the clock.
  std::string before = DateReportText(time(nullptr)).Str();
  std::string expanded = Expand("%date%");
  std::string after = DateReportText(time(nullptr)).Str();
  EXPECT_TRUE(expanded == before || expanded == after) << expanded;
}

TEST_F(SystemVariablesTest, StateAndReports) {
  Configure("[general]\nname = garage\n");
  SetState("security.armed", false);
  EXPECT_EQ(Expand("%sysname%"), "garage");
  EXPECT_EQ(Expand("[%state%]"), "[" + State() + "]");
  EXPECT_EQ(Expand("%stateof:security%"), "armed");
  EXPECT_EQ(Expand("<%stateof:nosuch%>"), "<>");
  EXPECT_TRUE(CurrentStates().Contains("nosuch"));
  SetState("idle", false);
  EXPECT_EQ(Expand("%stateof:%"), "idle");
  EXPECT_EQ(Expand("%full_report%"), "status: " + State() +
                                         devices_report_text().Str() +
                                         temp_report_text().Str());
  EXPECT_EQ(Expand("%devices_report%|%onewire_report%"),
            devices_report_text().Str() + "|" + temp_report_text().Str());

  ResetConfiguration();
  EXPECT_EQ(Expand("%sysname%"), "unnamed_hovantra");
}

TEST_F(SystemVariablesTest, RunTimeVariables) {
  Configure(
      "[variable target]\nenable = yes\n"
      "[variable mode]\nenable = yes\ndefault = auto\n"
      "[variable hidden]\nenable = no\n");
  OpenState();
  // A disabled variable falls through to older variables: nobody else
  // knows "?hidden", so it disappears.
  EXPECT_EQ(Expand("<%?target%><%?mode%><%?hidden%>"), "<><auto><>");
  ASSERT_TRUE(SetVariable("target", "21"));
  EXPECT_EQ(Expand("%?target%"), "21");

  // Proof of the fall-through: a newer-than-nothing engine answers "?hidden"
  // only when the run-time variable gives absent.
  ScriptSubstitution engine;
  engine.AddVariable(new ScriptSubstitutionConst("?hidden", "older"));
  engine.AddVariable(new ScriptSubstitutionConst("?target", "older"));
  RegisterSystemVariables(engine);
  EXPECT_EQ(engine.Process("%?hidden% %?target%"), "older 21");
}

TEST_F(SystemVariablesTest, LinesAndTemperaturesWithoutHardware) {
  Configure("");
  // An unknown line takes the fourth text, or nothing without one.
  EXPECT_EQ(Expand("[%line:pump:ON:OFF:??%]"), "[??]");
  EXPECT_EQ(Expand("[%line:pump:ON:OFF%]"), "[]");
  EXPECT_TRUE(Logged("Device line name ``pump'' not found, check config"));
  // %line% is not longer than the prefix and is not answered; %temperature%
  // asks for a sensor named "rature".
  EXPECT_EQ(Expand("[%line%]"), "[]");
  EXPECT_EQ(Expand("[%temperature%]"), "[]");
  EXPECT_TRUE(Logged("Temp. sensor rature not found, please check config"));
  // No reading (unknown sensor) gives the empty text.
  EXPECT_EQ(Expand("[%temp:boiler%]"), "[]");
}

TEST_F(SystemVariablesTest, LineStatesOfASimulatedBoard) {
  SimulatedBoards simulated;
  const std::string &boards = simulated.Path();
  {
    SimLock lock(boards);
    std::string err;
    ASSERT_TRUE(SimBoardSave(boards, SimBoardDefault("b", "1:1:1a2b"), &err))
        << err;
  }
  Configure("[device 1a2b]\noutput:3 = pump\n[device 77]\noutput:0 = far\n");
  devices_configure();
  DevicePoller *poller = new DevicePoller(&loop_, 500, 5, 13);

  device_set_output("pump", kBoardOutputOn);
  poller->TimeoutHandle();
  EXPECT_EQ(Expand("%line:pump:ON:OFF:??%"), "ON");
  device_set_output("pump", kBoardOutputOff);
  poller->TimeoutHandle();
  EXPECT_EQ(Expand("%line:pump:ON:OFF:??%"), "OFF");
  EXPECT_EQ(Expand("[%line:pump:ON%]"), "[]");
  // A line whose board is not there takes the fourth text.
  EXPECT_EQ(Expand("%line:far:ON:OFF:??%"), "??");
  EXPECT_EQ(Expand("%full_report%"), "status: " + State() +
                                         devices_report_text().Str() +
                                         temp_report_text().Str());
  EXPECT_NE(devices_report_text().Str().find("pump:off"), std::string::npos);

  delete poller;
}

TEST_F(SystemVariablesTest, TemperatureOfAConfiguredSensor) {
  Configure("[temp_sensor boiler]\nid = 0000000000000001\nreport = yes\n");
  temp_sensors_configure();
  EXPECT_EQ(Expand("[%temp:boiler%]"), "[]");  // no reading yet
  const unsigned char rom[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  temp_reading(1, rom, -3 * 16);
  EXPECT_EQ(Expand("%temp:boiler%"), "-3");
  EXPECT_EQ(Expand("%full_report%"), "status: " + State() +
                                         devices_report_text().Str() +
                                         temp_report_text().Str());
  EXPECT_NE(temp_report_text().Str().find("boiler:-3"), std::string::npos);
}

}  // namespace
