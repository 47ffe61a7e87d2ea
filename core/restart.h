// Restarting the daemon in place, and the descriptor hygiene around
// running other programs.
//
// A restart executes the program again with the same arguments, so the new
// image parses the same options, loads the configuration afresh and (in
// daemon mode) detaches again.  Before that it returns to the directory the
// program was started in, so relative configuration, log and state paths
// name the same files as at the first start, and it closes every descriptor
// but 0-2 so that no listening socket stays bound across the restart.
#ifndef HOVANTRA_CORE_RESTART_H
#define HOVANTRA_CORE_RESTART_H

#include "util/script_variable.h"

// Remembers the current directory as the start directory; main calls it
// first thing, before anything can change directory.
void RememberStartDirectory();
// The remembered start directory (empty before RememberStartDirectory).
ScriptVariable StartDirectory();

// The current directory, whatever its length; empty when it cannot be read.
ScriptVariable CurrentDirectory();

// argv0 made absolute: a name with a "/" that does not begin with "/" gets
// the current directory and a "/" in front; other names stay unchanged.
ScriptVariable AbsoluteProgramPath(const char *argv0);

// argv[0] becomes program_path; flushes the log, changes back to the start
// directory, closes descriptors 3 and up (the log closes at exec, so it can
// still report a failure), cancels the watchdog's alarm and executes
// program_path with argv, or the running program (/proc/self/exe) under
// that name when program_path has no "/" (it was found through PATH).
// Only returns through exit(1), after logging
// "Restarting (with argv[0]==%s) failed".
[[noreturn]] void RestartInPlace(char **argv, const ScriptVariable &program_path);

// Sets FD_CLOEXEC on fd, so that programs run for events never hold it.
// Every descriptor the daemon owns gets this, except the log's.
void MarkCloseOnExec(int fd);

// Closes every descriptor from 3 below the open-files limit (256 when the
// limit is unknown) except keep_fd.
void CloseDescriptorsExcept(int keep_fd);

#endif
