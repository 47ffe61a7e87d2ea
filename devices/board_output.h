// The state an output line is switched to, as the set-outputs command of
// report 4 carries it (two bits per line) and as the state file remembers
// it.
#ifndef HOVANTRA_DEVICES_BOARD_OUTPUT_H
#define HOVANTRA_DEVICES_BOARD_OUTPUT_H

enum BoardOutput {
  kBoardOutputOn = 1,
  kBoardOutputOff = 2,
};

#endif
