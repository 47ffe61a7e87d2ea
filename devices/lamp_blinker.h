// LampBlinker: drives the output lines "^lamp" and "^sound" in the pattern of
// the current state (steady, blinking, sounder with or against the lamp).
//
// Phases: -1 steady dark, -2 steady lit, 0 blinking and dark, 1 blinking
// and lit.  Sound modes: 0 unchanged, 1 off, 2 on, 3 with the lit lamp,
// 4 with the dark lamp.  Every switch goes through device_set_output, on
// every phase change, whatever the line's state.
#ifndef HOVANTRA_DEVICES_LAMP_BLINKER_H
#define HOVANTRA_DEVICES_LAMP_BLINKER_H

#include "core/event_selector.h"

class LampBlinker : public OVKTimeoutHandler {
 public:
  explicit LampBlinker(OVKEventSelector *selector);
  ~LampBlinker() override;
  // One phase change.
  void TimeoutHandle() override;
  void SetPattern(int lit, int dark, int sound_mode);

  int Phase() const { return phase_; }
  int SoundMode() const { return sound_mode_; }
  bool Armed() const { return armed_; }

 private:
  void Arm(int ms);
  void Disarm();

  OVKEventSelector *selector_;
  int phase_ = -1;
  int sound_mode_ = 1;
  int lit_ = -2;  // no pattern yet: the first request always applies
  int dark_ = -2;
  bool armed_ = false;
};

// Creates the one blinker (destroying an earlier one); nothing blinks until
// the first pattern.
void lamp_blinker_create(OVKEventSelector *selector);
// lit/dark in ms (-1: leave the lamp as it is), sound mode 0..4.  Does
// nothing without a blinker.
void lamp_set_pattern(int lit, int dark, int sound_mode);
// The blinker, or nullptr.
LampBlinker *lamp_blinker();
// Destroys the blinker; for tests.
void lamp_blinker_destroy();

#endif
