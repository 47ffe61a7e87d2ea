// Test support: simulated boards in a fresh directory that the board
// library is pointed at, the log captured, and the configuration and state
// file loaded from texts.
#ifndef HOVANTRA_DEVICES_BOARDS_TEST_SUPPORT_H
#define HOVANTRA_DEVICES_BOARDS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/state_file.h"
#include "core/env_test_support.h"
#include "core/event_sink.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "devices/board.h"
#include "devices/devices.h"
#include "devices/usb/sim_board.h"
#include "devices/usb/sim_usb.h"

// Events raised through the sink, in order.
inline std::vector<std::string> &RaisedEvents() {
  static std::vector<std::string> events;
  return events;
}

inline void CaptureEvent(const ScriptVariable &line) {
  RaisedEvents().push_back(line.Str());
}

// A fresh directory of simulated boards that the board library uses for
// the lifetime of the object.  On the way out every board is closed, no
// handle may stay open, and the environment is put back.
class SimulatedBoards {
 public:
  SimulatedBoards() : env_("HOVANTRA_SIMULATED_BOARDS", dir_.Path()) {
    devices_reset();
  }
  ~SimulatedBoards() {
    devices_reset();
    EXPECT_EQ(sim_usb_open_handles(), 0);
  }
  const std::string &Path() const { return dir_.Path(); }

 private:
  TestDir dir_;
  ScopedEnv env_;
};

class BoardsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    RaisedEvents().clear();
    SetEventSink(CaptureEvent);
  }
  void TearDown() override { ResetProcessState(); }

  const std::string &Dir() const { return boards_.Path(); }

  // A genuine current board, to be changed and Put on the bus.
  static SimBoard Make(const std::string &name, const std::string &serial,
                       uint32_t version = 4000001) {
    SimBoard b = SimBoardDefault(name, serial);
    b.version = version;
    return b;
  }
  void Add(const std::string &name, const std::string &serial,
           uint32_t version = 4000001) {
    Put(Make(name, serial, version));
  }
  void Put(const SimBoard &b) {
    SimLock lock(Dir());
    std::string err;
    ASSERT_TRUE(SimBoardSave(Dir(), b, &err)) << err;
  }
  SimBoard Get(const std::string &name) {
    SimLock lock(Dir());
    SimBoard b;
    std::string err;
    EXPECT_TRUE(SimBoardLoad(Dir(), name, &b, &err)) << err;
    return b;
  }
  template <typename F>
  void Edit(const std::string &name, F change) {
    SimBoard b = Get(name);
    change(&b);
    Put(b);
  }

  void Configure(const std::string &ini) {
    files_.Write("test.ini", ini);
    ASSERT_TRUE(LoadConfiguration(files_.File("test.ini").c_str()));
  }
  void States(const std::string &text) {
    files_.Write("test.state", text);
    OpenStateFile(files_.File("test.state").c_str());
  }
  std::string StateText() { return files_.Read("test.state"); }

  TestLog log_;
  SimulatedBoards boards_;
  TestDir files_;
};

#endif
