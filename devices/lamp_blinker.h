// LampBlinker: drives the output lines "^lamp" and "^sound" in the pattern of
// the current state (steady, blinking, sounder with or against the lamp).
#ifndef HOVANTRA_DEVICES_LAMP_BLINKER_H
#define HOVANTRA_DEVICES_LAMP_BLINKER_H

class OVKEventSelector;

// Creates the one blinker (destroying an earlier one); nothing blinks until
// the first pattern.
void lamp_blinker_create(OVKEventSelector *selector);
// lit/dark in ms (-1: leave the lamp as it is), sound mode 0..4.
void lamp_set_pattern(int lit, int dark, int sound_mode);
// Destroys the blinker; for tests.
void lamp_blinker_destroy();

#endif
