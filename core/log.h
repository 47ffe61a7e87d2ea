// The log: one append-only text file, one numbered, timestamped line per
// LogMessage call:  "Mon DD HH:MM:SS [N] text".
//
// A flood guard stops writing after 500 lines: the call that would be number
// 500 writes "TOO MANY MESSAGES" instead of its text, later calls write
// nothing until LogResume (the watchdog tick) writes "...RESUMING" and starts
// the count from 0 again.  Until a log file is open, lines go to stderr.
#ifndef HOVANTRA_CORE_LOG_H
#define HOVANTRA_CORE_LOG_H

// Opens path for appending (created with 0666 less the umask) and makes it
// the log; on failure the log stays on stderr.  The descriptor is inherited
// by command children (they log their outcome) and is the only descriptor
// the daemon does not mark close-on-exec.
void OpenLogFile(const char *path);
void LogMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));
void LogResume();
// True while the flood guard drops every line: a caller may then skip
// preparing the arguments of a LogMessage that would write nothing.
bool LogSilenced();
void FlushLog();
// Descriptor of the open log file, or -1.
int LogFileNumber();
// Closes the log file and resets the flood counter; for tests.
void ResetLog();

#endif
