#include "devices/devices.h"

#include <sys/wait.h>
#include <unistd.h>

#include "core/event_selector.h"
#include "devices/device_poller.h"
#include "devices/device_record.h"
#include "devices/test_boards.h"
#include "temp/temp_sensors.h"

namespace {

using Events = std::vector<std::string>;

const char kDoorBoard[] =
    "[device 1a2b]\n"
    "output:0 = siren\n"
    "output:3 = pump\n"
    "output_sync:3 = yes\n"
    "input:0 = door\n"
    "input_on:0 = door_open\n"
    "input_off:0 = door_closed\n"
    "input_off:1 = window_closed\n";

class DevicesTest : public BoardsTest {
 protected:
  void TearDown() override {
    delete poller_;
    poller_ = nullptr;
    temp_sensors_reset();
    BoardsTest::TearDown();
  }
  // Polls n times through the poller's own expiry.
  void Poll(int n = 1) {
    if (!poller_) poller_ = new DevicePoller(&selector_, 500, 5, 13);
    for (int i = 0; i < n; i++) poller_->TimeoutHandle();
  }
  bool Logged(const std::string &line) { return log_.Contains(line); }
  int CountLogged(const std::string &line) {
    int n = 0;
    for (const std::string &l : log_.Lines()) n += l == line;
    return n;
  }

  OVKEventSelector selector_;
  DevicePoller *poller_ = nullptr;
};

TEST_F(DevicesTest, ConfigureLogsLinesAndConnects) {
  Add("a", "1:2:1a2b");
  Configure(std::string(kDoorBoard) +
            "[device 77]\noutput = all\n"
            "[device 1a2g]\noutput:0 = x\n"
            "[device -5]\noutput:0 = y\n");
  devices_configure();
  EXPECT_EQ(log_.Lines(), (Events{
      "Total 4 device configuration entries found",
      "Device ``1a2b'' output 0: siren unsync",
      "Device ``1a2b'' output 3: pump SYNC",
      "Device ``1a2b'' input 0 on conn: door_open",
      "Device ``1a2b'' input 0 on discn: door_closed",
      "Device ``1a2b'' input 1 on discn: window_closed",
      "QTR0xx 1a2b is [1:2:1a2b], vers. 4000001, good",
      "Device ``77'' output 0: all unsync",
      "Device ``77'' output 1: all unsync",
      "Device ``77'' output 2: all unsync",
      "Device ``77'' output 3: all unsync",
      "Device ``77'' output 4: all unsync",
      "Device ``77'' output 5: all unsync",
      "Device ``77'' output 6: all unsync",
      "Device ``77'' output 7: all unsync",
      "Device ``77'' output 8: all unsync",
      "Device ``77'' output 9: all unsync",
      "Device ``77'' output 10: all unsync",
      "Device ``77'' output 11: all unsync",
      "QTR0xx device 77 not found, check connections",
      "Illegal device id ``1a2g'' in conf. file, ignoring",
      "Illegal device id ``-5'' in conf. file, ignoring",
  }));
  // Later sections come first.
  EXPECT_EQ(devices_report_text().Str(), "[0077: ?!][1a2b:+ siren:off pump:off door:no] ");
}

TEST_F(DevicesTest, ConnectFailuresAreAnnouncedOnlyAtConfiguration) {
  SimBoard legacy = Make("a", "1:1:5");
  legacy.product.text = "Electric circuit switch QTR001 '1";
  Put(legacy);
  SimBoard flaky = Make("b", "1:1:6");
  flaky.stall_report = 6;
  Put(flaky);
  Configure("[device 5]\n[device 6]\n[device 1A2B]\n");
  devices_configure();
  EXPECT_TRUE(Logged("QTR0xx 5 has incompatible version! Please upgrade the firmware"));
  EXPECT_TRUE(Logged("QTR0xx 6 is [1:1:6], vers. 4000001, good"));
  EXPECT_TRUE(Logged("QTR0xx device 6 counters failure"));
  EXPECT_TRUE(Logged("QTR0xx device 1a2b not found, check connections"));
  EXPECT_EQ(devices_report_text().Str(), "[1a2b: ?!][0006: ?!][0005: ?!]");
  EXPECT_EQ(sim_usb_open_handles(), 0);

  // Quiet retries on the 5th poll: only the success is logged.
  Edit("b", [](SimBoard *b) { b->stall_report = -1; });
  Add("c", "9:9:1a2b");
  log_.Clear();
  Poll(4);
  EXPECT_TRUE(log_.Lines().empty());
  Poll(1);
  EXPECT_EQ(log_.Lines(), (Events{"QTR0xx 1a2b is [9:9:1a2b], vers. 4000001, good",
                                  "QTR0xx 6 is [1:1:6], vers. 4000001, good"}));
  EXPECT_EQ(sim_usb_open_handles(), 2);
}

TEST_F(DevicesTest, AConnectionWhoseReadsFailIsAFailedConnection) {
  // The version read and the input range read each fail once.
  SimBoard b = Make("a", "1:2:1a2b");
  b.short_reads = 2;
  Put(b);
  Configure(kDoorBoard);
  devices_configure();
  EXPECT_TRUE(Logged("QTR0xx device 1a2b configuration failure"));
  EXPECT_FALSE(Logged("QTR0xx 1a2b is [1:2:1a2b], vers. 0, good"));
  EXPECT_EQ(devices_report_text().Str(), "[1a2b: ?!]");
  EXPECT_EQ(Get("a").short_reads, 1);  // the attempt ended at the first failure
  log_.Clear();
  Poll(5);  // the first reconnection poll fails quietly
  EXPECT_TRUE(log_.Lines().empty());
  Poll(5);
  EXPECT_EQ(log_.Lines(), (Events{"QTR0xx 1a2b is [1:2:1a2b], vers. 4000001, good"}));
  // The connection sees its inputs.
  Edit("a", [](SimBoard *s) { SimBoardPulse(s, 0, 1); });
  Poll();
  EXPECT_EQ(RaisedEvents(), (Events{"door_open", "door_closed"}));

  // A board that times out costs one timeout per attempt, not one per read.
  Edit("a", [](SimBoard *s) {
    s->plugged = false;
  });
  Poll(3);
  Edit("a", [](SimBoard *s) {
    s->plugged = true;
    s->generation++;
    s->timeouts = 3;
  });
  Poll(1);  // a reconnection poll
  EXPECT_EQ(Get("a").timeouts, 2);
  Poll(5);
  EXPECT_EQ(Get("a").timeouts, 1);
  Poll(5);
  Poll(5);
  EXPECT_EQ(devices_report_text().Str(), "[1a2b:+ siren:off pump:off door:no] ");
}

TEST_F(DevicesTest, SectionZeroTakesTheLastBoardOnTheBus) {
  Add("a", "1:1:1");
  Add("b", "1:1:2");
  Configure("[device 0]\noutput:0 = lamp\n");
  devices_configure();
  EXPECT_TRUE(Logged("QTR0xx 0 is [1:1:2], vers. 4000001, good"));
  EXPECT_EQ(device_set_output("lamp", 1), 1);
  EXPECT_EQ(Get("b").outputs, 1u);
  EXPECT_EQ(Get("a").outputs, 0u);
  EXPECT_EQ(sim_usb_open_handles(), 1);
}

TEST_F(DevicesTest, SameIdInEitherCaseAndLaterSectionWins) {
  Add("a", "1:1:1a2b");
  Configure("[device 1A2B]\noutput:0 = x\n[device 1a2b]\noutput:1 = x\n");
  devices_configure();
  EXPECT_EQ(CountLogged("QTR0xx 1a2b is [1:1:1a2b], vers. 4000001, good"), 2);
  EXPECT_EQ(device_set_output("x", 1), 1);
  EXPECT_EQ(Get("a").outputs, 2u);  // line 1 of the later section
}

TEST_F(DevicesTest, CounterStepsBecomeEventsInOrder) {
  Add("a", "1:2:1a2b");
  Configure(kDoorBoard);
  devices_configure();
  auto counter = [&](int k, int value) {
    Edit("a", [&](SimBoard *b) { b->garbage[k] = value; });
  };
  counter(0, 3);
  log_.Clear();
  Poll();
  EXPECT_EQ(RaisedEvents(), (Events{"door_open", "door_closed", "door_open"}));
  EXPECT_EQ(log_.Lines(), (Events{"XXX: in=0 l_i_s[]=0 cnt[]=3 c=1",
                                  "XXX: in=0 l_i_s[]=0 cnt[]=3 c=2",
                                  "XXX: in=0 l_i_s[]=0 cnt[]=3 c=3"}));
  RaisedEvents().clear();
  counter(0, 1);  // level 1 and no changes
  Poll();
  EXPECT_TRUE(RaisedEvents().empty());
  counter(0, 2);
  Poll();
  EXPECT_EQ(RaisedEvents(), (Events{"door_closed"}));

  RaisedEvents().clear();
  log_.Clear();
  counter(0, 101);
  Poll();
  EXPECT_TRUE(RaisedEvents().empty());
  EXPECT_EQ(log_.Lines(), (Events{"XXX: ignoring garbaged counter in=0 "
                                  "l_i_s[]=0(0) cnt[]=101(65)"}));
  counter(0, 100);
  Poll();
  ASSERT_EQ(RaisedEvents().size(), 100u);
  EXPECT_EQ(RaisedEvents()[0], "door_open");
  EXPECT_EQ(RaisedEvents()[99], "door_closed");

  // Input 1 has an off-event only: every step is logged, odd ones raise
  // nothing.
  RaisedEvents().clear();
  log_.Clear();
  counter(1, 3);
  Poll();
  EXPECT_EQ(RaisedEvents(), (Events{"window_closed"}));
  EXPECT_EQ(log_.Lines().size(), 3u);
}

TEST_F(DevicesTest, PulseBetweenPollsAndLevelAtConnection) {
  SimBoard b = Make("a", "1:2:1a2b");
  SimBoardSetContact(&b, 0, true);  // closed before the daemon looks
  SimBoardPulse(&b, 0, 2);
  Put(b);
  Configure(kDoorBoard);
  devices_configure();
  Poll();
  EXPECT_TRUE(RaisedEvents().empty());
  EXPECT_EQ(device_line_state("door"), 1);

  Edit("a", [](SimBoard *s) {
    SimBoardSetContact(s, 0, false);
    SimBoardSetContact(s, 0, true);
  });
  Poll();
  EXPECT_EQ(RaisedEvents(), (Events{"door_closed", "door_open"}));
  RaisedEvents().clear();
  Edit("a", [](SimBoard *s) { SimBoardSetContact(s, 0, false); });
  Poll(2);
  EXPECT_EQ(RaisedEvents(), (Events{"door_closed"}));
}

TEST_F(DevicesTest, UpperInputsOnlyOnAFourToSevenBoard) {
  SimBoard b = Make("a", "1:1:1");
  b.input_config = 0x40;
  Put(b);
  Configure("[device 1]\ninput_on = on\n");  // every input
  devices_configure();
  Edit("a", [](SimBoard *s) {
    for (int k = 0; k < 8; k++) s->garbage[k] = 1;
  });
  log_.Clear();
  Poll();
  EXPECT_EQ(RaisedEvents(), (Events{"on", "on", "on", "on"}));
  EXPECT_EQ(log_.Lines().front(), "XXX: in=4 l_i_s[]=0 cnt[]=1 c=1");
}

TEST_F(DevicesTest, LossIsLoggedOnceAndReconnectIsTriedEveryFifthPoll) {
  Add("a", "1:2:1a2b");
  Configure(kDoorBoard);
  devices_configure();
  Poll(2);
  Edit("a", [](SimBoard *b) { b->plugged = false; });
  log_.Clear();
  Poll(1);  // poll 3
  EXPECT_EQ(log_.Lines(), (Events{"QTR0xx 1a2b is LOST!"}));
  EXPECT_EQ(device_line_state("door"), -1);
  EXPECT_EQ(device_set_output("siren", 1), 0);
  EXPECT_TRUE(Logged("Can't control channel ``siren'': the device 1a2b is unavailable"));
  Edit("a", [](SimBoard *b) {
    b->plugged = true;
    b->generation++;
    b->outputs = 1;
  });
  log_.Clear();
  Poll(1);  // poll 4: not a reconnect poll
  EXPECT_TRUE(log_.Lines().empty());
  Poll(1);  // poll 5
  EXPECT_EQ(log_.Lines(), (Events{"QTR0xx 1a2b is [1:2:1a2b], vers. 4000001, good"}));
  EXPECT_EQ(devices_report_text().Str(), "[1a2b:+ siren:on pump:off door:no] ");

  // A failing status read while reporting loses the board too.
  Edit("a", [](SimBoard *b) { b->short_reads = 1; });
  EXPECT_EQ(devices_report_text().Str(), "[1a2b:+]");
  EXPECT_EQ(devices_report_text().Str(), "[1a2b: ?!]");
  Poll(4);
  EXPECT_EQ(devices_report_text().Str(), "[1a2b: ?!]");
  Poll(1);
  EXPECT_NE(devices_report_text().Str(), "[1a2b: ?!]");
}

TEST_F(DevicesTest, SyncRestoresRememberedOutputsOnTheThirteenthPoll) {
  States("[Outputs ]\npump = on\nheater = off\n");
  SimBoard b = Make("a", "1:2:1a2b", 3000000);
  b.outputs = 1u << 6;  // heater on, pump off
  Put(b);
  Configure("[device 1a2b]\noutput:3 = pump\noutput:6 = heater\n"
            "output:7 = fan\noutput_sync = yes\n");
  devices_configure();
  log_.Clear();
  Poll(12);
  EXPECT_TRUE(Get("a").commands.empty());
  EXPECT_TRUE(log_.Lines().empty());
  Poll(1);
  EXPECT_EQ(log_.Lines(), (Events{"Warning: [400] sync: line 3 (pump) => on",
                                  "Warning: [400] sync: line 6 (heater) => off"}));
  SimBoard after = Get("a");
  EXPECT_EQ(after.commands, (std::vector<std::string>{"041c000040000000",
                                                      "041c000020010000"}));
  EXPECT_EQ(after.outputs, 1u << 3);
  log_.Clear();
  Poll(13);
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(DevicesTest, SwitchingASyncedLineRemembersItEvenWhenUnavailable) {
  States("[Outputs ]\npump = on\n");
  Configure("[device 1a2b]\noutput:3 = pump\noutput_sync:3 = yes\n"
            "output:4 = plain\n");
  devices_configure();
  log_.Clear();
  EXPECT_EQ(device_set_output("pump", 2), 0);
  EXPECT_EQ(log_.Lines(), (Events{"Can't control channel ``pump'': the device "
                                  "1a2b is unavailable"}));
  EXPECT_EQ(LoadOutput("pump"), 2);
  EXPECT_NE(StateText().find("pump = off"), std::string::npos);
  device_set_output("plain", 1);
  EXPECT_EQ(LoadOutput("plain"), 0);

  log_.Clear();
  EXPECT_EQ(device_set_output("door", 1), 0);  // inputs are not outputs
  EXPECT_EQ(device_set_output("Pump", 1), 0);
  EXPECT_EQ(log_.Lines(), (Events{
      "Output channel name ``door'' not found, check config",
      "Output channel name ``Pump'' not found, check config"}));
}

TEST_F(DevicesTest, LineStatesByLayoutWithAPerPollCache) {
  Add("old", "1:1:1", 3999999);
  Add("new", "1:1:2", 4000000);
  Configure("[device 1]\noutput:5 = o5\noutput:9 = o9\ninput:1 = i1\n"
            "[device 2]\noutput:5 = n5\noutput:9 = n9\ninput:1 = n_i1\n");
  devices_configure();
  device_set_output("o5", 1);
  device_set_output("n9", 1);
  Edit("old", [](SimBoard *b) { SimBoardSetContact(b, 1, true); });
  Poll();
  EXPECT_EQ(device_line_state("o5"), 1);
  EXPECT_EQ(device_line_state("o9"), 0);
  // Old layout: input 1 shares bit 9 with line 5.
  EXPECT_EQ(device_line_state("i1"), 1);
  EXPECT_EQ(device_line_state("n5"), 0);
  EXPECT_EQ(device_line_state("n9"), 1);
  EXPECT_EQ(device_line_state("n_i1"), 1);  // bit 9: line 9 on
  EXPECT_EQ(device_line_state("nothing"), -2);
  EXPECT_TRUE(Logged("Device line name ``nothing'' not found, check config"));

  // One status read per board and poll cycle.
  long reads = Get("old").reads;
  device_set_output("o9", 1);
  EXPECT_EQ(device_line_state("o9"), 0);
  EXPECT_EQ(Get("old").reads, reads);
  Poll();
  reads = Get("old").reads;
  EXPECT_EQ(device_line_state("o9"), 1);
  EXPECT_EQ(Get("old").reads, reads + 1);
}

TEST_F(DevicesTest, ReportListsNamedLinesInStatusBitOrder) {
  SimBoard b = Make("a", "1:2:1a2b", 3000000);
  SimBoardSetContact(&b, 0, true);
  Put(b);
  Configure("[device 1a2b]\noutput:0 = siren\ninput:0 = door\n");
  devices_configure();
  EXPECT_EQ(devices_report_text().Str(), "[1a2b:+ siren:off door:yes] ");

  Add("b", "1:1:2", 4000000);
  Configure("[device 2]\noutput:2 = l2\noutput:4 = l4\noutput:8 = l8\n"
            "input:0 = i0\ninput:4 = i4\n");
  devices_configure();
  device_set_output("l4", 1);
  EXPECT_EQ(devices_report_text().Str(),
            "[0002:+ l2:off l8:off i0:no l4:on i4:yes] ");
}

TEST_F(DevicesTest, OnewireReadingsReachTheSensors) {
  States("");
  SimBoard b = Make("a", "1:1:1", 2120203);
  b.sensors.push_back({{0x28, 0x58, 0x2C, 0x1F, 0, 0, 0, 0xB6}, 0x0191});
  b.sensors.push_back({{0x28, 1, 0, 0, 0, 0, 0, 1}, 0x7FFF});
  Put(b);
  Configure("[device 1]\nonewire = Yes\n"
            "[device 2]\nonewire = yes\n"
            "[temp_sensor boiler]\nid = B60000001F2C5828\n"
            "[temp_sensor outside]\nid = 0100000000000128\n");
  Add("old", "1:1:2", 2120202);
  devices_configure();
  temp_sensors_configure();
  Poll();
  EXPECT_EQ(temp_of("boiler"), 25);
  EXPECT_EQ(temp_of("outside"), -1000);  // the sentinel is not a reading
  SimBoard old = Get("old");
  long old_reads = old.reads;
  Poll();
  EXPECT_EQ(Get("old").reads, old_reads);  // no report 7 below 2120203

  // A board that never stops saying "more" is read a bounded number of times.
  Edit("a", [](SimBoard *s) { s->onewire_endless = true; });
  long reads = Get("a").reads;
  log_.Clear();
  Poll(2);
  EXPECT_EQ(Get("a").reads - reads, 2 * kDeviceOnewireReports);
  EXPECT_EQ(CountLogged("QTR0xx 1: 1-Wire readings do not end, reading at "
                        "most 16 reports per poll"), 1);

  Edit("a", [](SimBoard *s) { s->stall_report = 7; });
  log_.Clear();
  Poll();
  EXPECT_EQ(log_.Lines(), (Events{"QTR0xx 0001 is LOST!"}));
}

TEST_F(DevicesTest, PollerRearmsForItsInterval) {
  Poll();
  long sec, usec;
  OVKCurrentTime(&sec, &usec);
  double due = poller_->ExpirySec() + poller_->ExpiryUsec() / 1e6;
  double now = sec + usec / 1e6;
  EXPECT_GT(due, now + 0.3);
  EXPECT_LE(due, now + 0.5);
}

}  // namespace

namespace {

// The tool and the daemon change the same board at once: no change is lost.
TEST_F(DevicesTest, ConcurrentChangesFromAnotherProcessAreAllSeen) {
  Add("a", "1:1:1");
  Configure("[device 1]\ninput_on:0 = on\ninput_off:0 = off\n");
  devices_configure();
  // At most 100 changes between two polls are counted, so even a poller
  // that falls behind completely must still see every pulse.
  const int kPulses = 50;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (int i = 0; i < kPulses; i++) {
      SimLock lock(Dir());
      SimBoard b;
      std::string err;
      if (!SimBoardLoad(Dir(), "a", &b, &err)) _exit(1);
      SimBoardPulse(&b, 0, 1);
      if (!SimBoardSave(Dir(), b, &err)) _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) Poll();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Poll();
  EXPECT_EQ(RaisedEvents().size(), 2u * kPulses);
  for (size_t i = 0; i < RaisedEvents().size(); i++)
    EXPECT_EQ(RaisedEvents()[i], i % 2 ? "off" : "on");
}

// The command-line tool works on the files the board library reads.
TEST_F(DevicesTest, ToolDrivesBoardsTheLibrarySees) {
  const char *build = getenv("HOVANTRA_BUILD_DIR");
  std::string tool = std::string(build ? build : "") + "/hovantra-board";
  if (!build || access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "no tool";
  auto run = [&](const std::string &args) {
    return system((tool + " -d '" + Dir() + "' " + args + " >/dev/null 2>&1").c_str());
  };
  ASSERT_EQ(run("add a 1:2:1a2b 3000000"), 0);
  EXPECT_NE(run("add a 1:2:1a2b"), 0);  // exists already
  ASSERT_EQ(run("close a 0"), 0);
  Configure(kDoorBoard);
  devices_configure();
  EXPECT_EQ(devices_report_text().Str(), "[1a2b:+ siren:off pump:off door:yes] ");
  ASSERT_EQ(run("pulse a 0 2"), 0);
  Poll();
  EXPECT_EQ(RaisedEvents(), (Events{"door_closed", "door_open", "door_closed",
                                    "door_open"}));
  ASSERT_EQ(run("unplug a"), 0);
  EXPECT_EQ(devices_report_text().Str(), "[1a2b:+]");
  ASSERT_EQ(run("plug a"), 0);
  ASSERT_EQ(run("set a manufacturer Someone Else"), 0);
  Poll(4);
  EXPECT_EQ(devices_report_text().Str(), "[1a2b: ?!]");
  ASSERT_EQ(run("set a manufacturer genuine"), 0);
  Poll(5);
  device_set_output("siren", 1);
  EXPECT_EQ(Get("a").commands.back(), "041c000001000000");
  EXPECT_NE(run("set a bogus 1"), 0);
  EXPECT_NE(run("close a 8"), 0);
}

}  // namespace
