#include "devices/lamp_blinker.h"

#include "core/process_state.h"
#include "devices/devices.h"

namespace {

const char kLamp[] = "^lamp";
const char kSound[] = "^sound";

LampBlinker *g_blinker = nullptr;

void Switch(const char *line, bool on) {
  device_set_output(line, on ? kBoardOutputOn : kBoardOutputOff);
}

}  // namespace

LampBlinker::LampBlinker(OVKEventSelector *selector) : selector_(selector) {}

LampBlinker::~LampBlinker() { Disarm(); }

void LampBlinker::Arm(int ms) {
  SetFromNow(ms / 1000, (ms % 1000) * 1000L);
  selector_->RegisterTimeout(this);
  armed_ = true;
}

void LampBlinker::Disarm() {
  selector_->RemoveTimeout(this);
  armed_ = false;
}

void LampBlinker::SetPattern(int lit, int dark, int sound_mode) {
  if (sound_mode != 0) {
    sound_mode_ = sound_mode;
    if (sound_mode == 1) Switch(kSound, false);
    if (sound_mode == 2) Switch(kSound, true);
  }
  if (lit == -1 || dark == -1) return;
  if (lit == lit_ && dark == dark_) return;  // a running blink goes on
  lit_ = lit;
  dark_ = dark;
  if (lit == 0) {
    phase_ = -1;
  } else if (dark == 0) {
    phase_ = -2;
  } else if (phase_ == -1) {
    phase_ = 0;
  } else if (phase_ == -2) {
    phase_ = 1;
  }
  TimeoutHandle();
}

void LampBlinker::TimeoutHandle() {
  // The selector has dropped a fired timer already; a direct call (a new
  // pattern) must not leave a second registration behind.
  Disarm();
  bool own_sound = sound_mode_ != 1 && sound_mode_ != 2;
  if (phase_ == 0) {
    Switch(kLamp, true);
    phase_ = 1;
    if (own_sound) Switch(kSound, sound_mode_ == 3);
    Arm(lit_);
  } else if (phase_ >= 1) {
    Switch(kLamp, false);
    phase_ = 0;
    if (own_sound) Switch(kSound, sound_mode_ == 4);
    Arm(dark_);
  } else {
    Switch(kLamp, phase_ == -2);
  }
}

void lamp_blinker_create(OVKEventSelector *selector) {
  delete g_blinker;
  g_blinker = new LampBlinker(selector);
}

void lamp_set_pattern(int lit, int dark, int sound_mode) {
  if (g_blinker) g_blinker->SetPattern(lit, dark, sound_mode);
}

LampBlinker *lamp_blinker() { return g_blinker; }

void lamp_blinker_destroy() {
  delete g_blinker;
  g_blinker = nullptr;
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kDevices, lamp_blinker_destroy);
