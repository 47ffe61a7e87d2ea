// The configured boards as named lines: the `device` sections, one record
// per board, connection and loss, switching outputs and reading lines by
// name, and the one-line report of all boards.
#ifndef HOVANTRA_DEVICES_DEVICES_H
#define HOVANTRA_DEVICES_DEVICES_H

#include "devices/board_output.h"
#include "util/script_variable.h"

// Builds the record list from the configuration and connects every board.
void devices_configure();
// Switches the named output; true when the command went to the board,
// false otherwise (logged).
bool device_set_output(const ScriptVariable &name, BoardOutput value);
// 1 on, 0 off, -1 board unavailable, -2 no line of that name (logged).
int device_line_state(const ScriptVariable &name);
// Names of the named output lines (outputs) or input lines, in the order
// of the configuration.
ScriptVector devices_line_names(bool outputs);
// "[1a2b:+ siren:off door:yes] " ... for every board.
ScriptVariable devices_report_text();
// Releases every record; for tests.
void devices_reset();

#endif
